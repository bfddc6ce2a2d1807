// The studio's small helpers for text, bytes and files.

export const element = (id) => document.getElementById(id);

export const hex = (value, digits) => value.toString(16).toUpperCase().padStart(digits, "0");

export const base64 = (bytes) => {
  let text = "";
  for (let i = 0; i < bytes.length; i += 8192) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
  }
  return btoa(text);
};

export const escape_html = (text) =>
  text.replace(/[&<>]/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;" })[c]);

export const download = (name, data, type) => {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([data], { type: type }));
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
};
