// @ts-check
// The status line under the editor: where the document lives, its size in
// words, and short messages ("Saved", "Reloaded: …") that fade after a while.

/** @param {string} id */
function part(id) {
  const found = document.getElementById(id);
  if (!found) throw new Error(`the page has no #${id}`);
  return found;
}

let timer = 0;

/**
 * Shows a message for a few seconds (errors for longer).
 * @param {string} text
 * @param {{ error?: boolean }} [how]
 */
export function tell(text, how = {}) {
  const message = part("message");
  message.textContent = text;
  message.classList.toggle("error", Boolean(how.error));
  clearTimeout(timer);
  timer = setTimeout(() => { message.textContent = ""; }, how.error ? 12000 : 4000);
}

/**
 * @param {string | null} path
 * @param {string} text
 */
export function describe(path, text) {
  // The line is right-to-left so that a long path loses its start, not
  // its name; the marks keep the path's own order ("/" first).
  part("where").textContent = path ? `\u200E${path}\u200E` : "Not saved yet";
  part("where").title = path ?? "";
  const words = text.match(/\S+/g)?.length ?? 0;
  part("count").textContent = `${words} ${words === 1 ? "word" : "words"}`;
}
