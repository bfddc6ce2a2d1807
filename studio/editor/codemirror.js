// The parts of CodeMirror that the studio's editor (studio/web/studio_editor.js) uses, bundled
// by the build with esbuild into one ES module, studio_codemirror.js.
export { ChangeSet, EditorState, EditorSelection, StateEffect, StateField, RangeSet, Compartment,
         Transaction } from "@codemirror/state";
export { EditorView, Decoration, GutterMarker, gutter, keymap, lineNumbers,
         highlightActiveLine, highlightActiveLineGutter, highlightSpecialChars, drawSelection,
         ViewPlugin } from "@codemirror/view";
export { defaultKeymap, history, historyKeymap, indentWithTab } from "@codemirror/commands";
export { searchKeymap, highlightSelectionMatches } from "@codemirror/search";
export { StreamLanguage, HighlightStyle, syntaxHighlighting, bracketMatching } from "@codemirror/language";
export { linter, lintGutter, setDiagnostics, forEachDiagnostic } from "@codemirror/lint";
export { tags } from "@lezer/highlight";
