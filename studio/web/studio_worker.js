// The assembler for diagnostics as the author types: a second instance of the studio's
// WebAssembly in a worker, so that assembling a long program never holds up the editor.
// Takes {id, files: {name: text}, main}; answers {id, errors, notes, lines} or {id, failed}.
/* global tavrin_studio_module, studio_core */

importScripts("tavrin-studio.js");

let module = tavrin_studio_module();

onmessage = async (event) => {
  const { id, files, main } = event.data;
  try {
    await module;
    studio_core.clear_files();
    for (const [name, text] of Object.entries(files)) {
      studio_core.put_file(name, text);
    }
    const result = studio_core.assemble(main);
    postMessage({ id, errors: result.errors, notes: result.notes, lines: result.lines });
  } catch (error) {
    module = tavrin_studio_module(); // a fresh instance for the next time
    postMessage({ id, failed: String(error.message || error) });
  }
};
