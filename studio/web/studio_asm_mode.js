// The editor's 8080 assembly mode: mnemonics, registers, directives, numbers, strings, comments
// and labels, as asm8080 reads them (tools/asm8080/assembler.hpp), and their colours.

import { HighlightStyle, StreamLanguage, syntaxHighlighting, tags } from "./studio_codemirror.js";

const words = (text) => new Set(text.split(" "));
const mnemonics = words(
  "ACI ADC ADD ADI ANA ANI CALL CC CM CMA CMC CMP CNC CNZ CP CPE CPI CPO CZ DAA DAD DCR DCX DI " +
  "EI HLT IN INR INX JC JM JMP JNC JNZ JP JPE JPO JZ LDA LDAX LHLD LXI MOV MVI NOP ORA ORI OUT " +
  "PCHL POP PUSH RAL RAR RC RET RLC RM RNC RNZ RP RPE RPO RRC RST RZ SBB SBI SHLD SPHL STA STAX " +
  "STC SUB SUI XCHG XRA XRI XTHL");
const registers = words("A B C D E H L M SP PSW");
const directives = words(
  "ORG EQU SET DEFL DB DW DS END INCLUDE INCBIN IF IFDEF IFNDEF ELSE ENDIF MACRO REPT IRP IRPC " +
  "ENDM LOCAL EXITM ERROR TITLE .8080 ASEG NAME PAGE");
const number = /^(?:[0-9][0-9A-F]*H|[01]+B|[0-7]+[OQ]|[0-9]+D?|\$[0-9A-F]+|0X[0-9A-F]+)(?![\w$.?@])/i;

const token = (stream) => {
  const at_start = stream.sol();
  if (stream.eatSpace()) {
    return null;
  }
  const next = stream.peek();
  if (next === ";") {
    stream.skipToEnd();
    return "comment";
  }
  if (next === "'" || next === '"') {
    stream.next();
    while (!stream.eol() && stream.next() !== next) { /* to the closing quote */ }
    return "string";
  }
  if (stream.match(number)) {
    return "number";
  }
  const word = stream.match(/^[.\w$?@]+/);
  if (!word) {
    stream.next();
    return null;
  }
  const name = word[0].toUpperCase();
  if (stream.peek() === ":" || (at_start && !directives.has(name))) {
    stream.eat(":");
    return "def";
  }
  if (mnemonics.has(name)) {
    return "keyword";
  }
  if (directives.has(name)) {
    return "meta";
  }
  return registers.has(name) ? "atom" : "variable";
};

export const assembly_8080 = StreamLanguage.define({
  name: "asm8080",
  token,
  languageData: { commentTokens: { line: ";" } },
});

export const assembly_colours = syntaxHighlighting(HighlightStyle.define([
  { tag: tags.keyword, color: "#569cd6" },
  { tag: tags.meta, color: "#c586c0" },
  { tag: tags.atom, color: "#4ec9b0" },
  { tag: tags.number, color: "#b5cea8" },
  { tag: tags.string, color: "#ce9178" },
  { tag: tags.comment, color: "#6a9955" },
  { tag: tags.definition(tags.variableName), color: "#dcdcaa" },
  { tag: tags.variableName, color: "#9cdcfe" },
]));
