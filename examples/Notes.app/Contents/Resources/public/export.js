// @ts-check
// The formatted document elsewhere: a PDF file (the page printed with its
// print style, which shows the preview alone), or HTML on the clipboard.
import { corvane } from "./corvane-async.js";
import { chooseToSave } from "./files.js";

/**
 * A desktop notification (nothing when the desktop has no notification
 * service). Choosing it brings the window back.
 * @param {string} title
 * @param {string} content
 */
function notify(title, content) {
  const json = JSON.stringify({ title, content });
  if (corvane.notice) {
    const why = corvane.notice.notify(json);
    if (why) console.warn(`no notification: ${why}`);
  } else {
    corvane.growl.notify(json);
  }
}

/**
 * Asks where to put the PDF and writes it; the file's name, or null when
 * the person cancelled.
 * @param {{ baseName: string, folder: string, render: () => void }} what
 * @returns {Promise<string | null>}
 */
export async function exportPdf(what) {
  const path = await chooseToSave({ title: "Export as PDF", fileName: `${what.baseName}.pdf`, directory: what.folder,
                                    types: ["pdf"], descriptions: ["PDF Document"] });
  if (!path) return null;
  what.render();
  await corvane.window.printToPDF({ filePath: path });
  const name = path.slice(path.lastIndexOf("/") + 1);
  notify("Exported as PDF", `${name} is in ${path.slice(0, path.lastIndexOf("/")) || "/"}`);
  return name;
}

/** @param {string} html */
export function copyHtml(html) {
  corvane.clipboard.copy(html);
}
