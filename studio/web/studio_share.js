// Share by link: the project's files and its main file, as JSON compressed with the browser's
// CompressionStream, in the link's fragment (#project=...), which no server sees. Opening such a
// link asks before the shared files replace the author's own.

import { first_program, open_file, project_files, save_source, write_text } from "./studio_editor.js";
import { files, settings } from "./studio_files.js";
import { delete_file, set_main } from "./studio_project.js";
import { element } from "./studio_text.js";

const prefix = "#project=";
export const max_link_length = 64 * 1024; // what mail and chat programs pass whole

const through = async (bytes, stream) =>
  new Uint8Array(await new Response(new Blob([bytes]).stream().pipeThrough(stream)).arrayBuffer());

const to_base64url = (bytes) => {
  let text = "";
  for (let i = 0; i < bytes.length; i += 8192) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
  }
  return btoa(text).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
};

const from_base64url = (text) =>
  Uint8Array.from(atob(text.replace(/-/g, "+").replace(/_/g, "/")), (c) => c.charCodeAt(0));

// The link to the project, or throws a RangeError that says why there is none.
export const share_link = async (studio) => {
  const project = JSON.stringify({ main: settings.main, files: project_files(studio) });
  const packed = await through(new TextEncoder().encode(project), new CompressionStream("deflate-raw"));
  const link = `${location.origin}${location.pathname}${prefix}${to_base64url(packed)}`;
  if (link.length > max_link_length) {
    throw new RangeError(`The project is too large for a link (${Math.ceil(link.length / 1024)} KB ` +
                         `compressed, at most ${max_link_length / 1024} KB): send its files instead.`);
  }
  return link;
};

// {main, files: {name: text}} of the link the page was opened with, or null.
const shared_project = async () => {
  if (!location.hash.startsWith(prefix)) {
    return null;
  }
  const packed = from_base64url(location.hash.slice(prefix.length));
  const text = new TextDecoder().decode(await through(packed, new DecompressionStream("deflate-raw")));
  const project = JSON.parse(text);
  if (typeof project.main !== "string" || typeof project.files !== "object" || !(project.main in project.files)) {
    throw new Error("it holds no main file");
  }
  return project;
};

// The author's files are only the first program, untouched: nothing to ask about.
const nothing_of_the_authors = () =>
  files.size === 1 && files.has(settings.main) && files.get(settings.main).text === first_program;

const ask = (question) => new Promise((resolve) => {
  const dialog = element("share-dialog");
  element("share-question").textContent = question;
  dialog.onclose = () => resolve(dialog.returnValue === "replace");
  dialog.showModal();
});

// A shared project replaces the author's files, when the author says so.
export const open_shared = async (studio) => {
  let project;
  try {
    project = await shared_project();
  } catch (error) {
    studio.say(`This link's project cannot be read (${error.message}); your files are as they were.`);
  }
  history.replaceState(null, "", location.pathname + location.search);
  if (!project) {
    return;
  }
  const names = Object.keys(project.files);
  if (!nothing_of_the_authors() && !(await ask(
    `This link holds a project of ${names.length} file${names.length > 1 ? "s" : ""} ` +
    `(${names.join(", ")}). Replace your ${files.size} file${files.size > 1 ? "s" : ""} with it? ` +
    "Yours are lost unless you download them first."))) {
    studio.say("The shared project was not opened: your files are as they were.");
    return;
  }
  for (const [name, text] of Object.entries(project.files)) {
    write_text(studio, name, text);
  }
  set_main(studio, project.main);
  open_file(studio, project.main);
  for (const name of [...files.keys()].filter((name) => !(name in project.files))) {
    await delete_file(studio, name);
  }
  await save_source(studio);
  studio.say(`Opened the shared project: ${names.join(", ")}; ${project.main} is its main file.`);
};
