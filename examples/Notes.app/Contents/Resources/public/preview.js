// @ts-check
// Markdown to HTML with markdown-it. The page holds the bridge to the
// desktop, so a document must never run script in it: raw HTML in the
// Markdown shows as text, markdown-it refuses javascript: and similar
// links, and the page's content security policy forbids inline script.
import { corvane } from "./corvane-async.js";
import MarkdownIt from "./vendor/markdown-it/markdown-it.js";

const markdown = new MarkdownIt({ html: false, linkify: true, typographer: true });

/** @type {string | null} file URL of the document's folder, for its relative images */
let base = null;

// Images given relative to the document are found beside it.
const image = markdown.renderer.rules.image;
/** @type {import("./vendor/markdown-it/markdown-it.js").RenderRule} */
const imageBesideDocument = (tokens, index, options, env, self) => {
  const src = tokens[index].attrGet("src");
  if (base && src && !/^[a-z][a-z0-9+.-]*:/i.test(src)) tokens[index].attrSet("src", new URL(src, base).href);
  return image ? image(tokens, index, options, env, self) : self.renderToken(tokens, index, options);
};
markdown.renderer.rules.image = imageBesideDocument;

/**
 * The document's folder, or null for a new document.
 * @param {string | null} folder
 */
export function setFolder(folder) {
  base = folder === null ? null : new URL(`file://${folder.split("/").map(encodeURIComponent).join("/")}/`).href;
}

/** @param {string} text */
export function toHtml(text) {
  return markdown.render(text);
}

/**
 * Keeps `view` showing `editor`'s text, a moment after the typing stops.
 * Links open in the desktop's browser (or mail program), never in the page.
 * @param {HTMLElement} view
 * @param {HTMLTextAreaElement} editor
 * @returns {() => void} renders at once
 */
export function attach(view, editor) {
  let timer = 0;
  const render = () => {
    clearTimeout(timer);
    view.innerHTML = toHtml(editor.value);
  };
  editor.addEventListener("input", () => {
    clearTimeout(timer);
    timer = setTimeout(render, 120);
  });
  view.addEventListener("click", (e) => {
    const link = e.target instanceof Element ? e.target.closest("a") : null;
    if (!link) return;
    e.preventDefault();
    if (/^(https?|mailto):/i.test(link.href)) corvane.app.open(link.href);
  });
  return render;
}
