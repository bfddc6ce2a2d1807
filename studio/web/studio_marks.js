// What the editor marks on its lines: the breakpoints' dots in their gutter, the line where the
// machine stands and the lines with errors. Each is a set of ranges that the text's changes
// move, so a dot stays on its instruction when lines are typed above it. And for each file the
// text of its last assembly with the changes made since, which turn a line of today's text into
// the line the assembler saw, and back.

import { ChangeSet, Decoration, EditorView, GutterMarker, RangeSet, StateEffect, StateField,
         gutter, lineNumbers } from "./studio_codemirror.js";

class Dot extends GutterMarker {
  toDOM() {
    const dot = document.createElement("span");
    dot.className = "cm-break-dot";
    return dot;
  }
}
const dot = new Dot();

// {line, on} of a breakpoint; {lines} to put the file's dots anew.
export const set_dot = StateEffect.define();
export const set_dots = StateEffect.define();

export const dots = StateField.define({
  create: () => RangeSet.empty,
  update(set, transaction) {
    set = set.map(transaction.changes);
    for (const effect of transaction.effects) {
      const doc = transaction.state.doc;
      if (effect.is(set_dots)) {
        const starts = [...new Set(effect.value.lines.filter((n) => n >= 1 && n <= doc.lines))]
          .sort((a, b) => a - b).map((n) => dot.range(doc.line(n).from));
        set = RangeSet.of(starts);
      } else if (effect.is(set_dot) && effect.value.line >= 1 && effect.value.line <= doc.lines) {
        const from = doc.line(effect.value.line).from;
        set = set.update({ filter: (start) => start !== from });
        if (effect.value.on) {
          set = set.update({ add: [dot.range(from)] });
        }
      }
    }
    return set;
  },
});

// The lines of a state's dots, each once (two lines joined into one keep one dot).
export const dot_lines = (state) => {
  const lines = new Set();
  state.field(dots).between(0, state.doc.length, (from) => { lines.add(state.doc.lineAt(from).number); });
  return [...lines];
};

export const has_dot = (state, line) => dot_lines(state).includes(line);

// {current: line or 0, errors: [lines]}: the line about to run and the lines with errors.
export const set_marks = StateEffect.define();
const current_mark = Decoration.line({ class: "cm-current-line" });

const marks = StateField.define({
  create: () => Decoration.none,
  update(set, transaction) {
    set = set.map(transaction.changes);
    for (const effect of transaction.effects.filter((e) => e.is(set_marks))) {
      const doc = transaction.state.doc;
      const ranges = [];
      for (const n of new Set(effect.value.errors)) {
        if (n >= 1 && n <= doc.lines) {
          ranges.push(Decoration.line({ class: "cm-error-line", attributes: { "data-line": String(n) } })
            .range(doc.line(n).from));
        }
      }
      if (effect.value.current >= 1 && effect.value.current <= doc.lines) {
        ranges.push(current_mark.range(doc.line(effect.value.current).from));
      }
      set = Decoration.set(ranges, true);
    }
    return set;
  },
  provide: (field) => EditorView.decorations.from(field),
});

// The line the machine stands on, in view: the editor scrolls to it.
export const current_line_of = (state) => {
  let line = 0;
  state.field(marks).between(0, state.doc.length, (from, to, mark) => {
    if (mark.spec.class === "cm-current-line") {
      line = state.doc.lineAt(from).number;
    }
  });
  return line;
};

// The gutters: a click on the dots' gutter or on a line number calls `toggle(view, line)`.
export const line_gutters = (toggle) => {
  const handlers = {
    mousedown: (view, block, event) => {
      if (event.button !== 0) {
        return false;
      }
      toggle(view, view.state.doc.lineAt(block.from).number);
      return true;
    },
  };
  return [
    dots, marks,
    gutter({ class: "cm-break-gutter", markers: (view) => view.state.field(dots),
             initialSpacer: () => dot, domEventHandlers: handlers }),
    lineNumbers({ domEventHandlers: handlers }),
  ];
};

// For each file, the text the last assembly read and the changes since: {doc, since}.
const assembled = new Map();

export const remember_assembly = (states) => {
  assembled.clear();
  for (const [name, state] of states) {
    assembled.set(name, { doc: state.doc, since: ChangeSet.empty(state.doc.length) });
  }
};

export const note_changes = (name, changes) => {
  const kept = assembled.get(name);
  if (kept) {
    kept.since = kept.since.compose(changes);
  }
};

// The line of the last assembly that a line of the file's text is (0 when the assembly did not
// have it: typed since, or changed); the other way, where an assembled line is now.
export const assembled_line = (name, doc, line) => {
  const kept = assembled.get(name);
  if (!kept || kept.since.empty) {
    return line;
  }
  const now = doc.line(line);
  const then = kept.doc.lineAt(kept.since.invertedDesc.mapPos(now.from, 1));
  return then.text === now.text ? then.number : 0;
};

export const line_now = (name, doc, line) => {
  const kept = assembled.get(name);
  if (!kept || kept.since.empty || line < 1 || line > kept.doc.lines) {
    return line;
  }
  return doc.lineAt(kept.since.mapPos(kept.doc.line(line).from, 1)).number;
};
