// @ts-check
// The page's script. `corvane` is the shell's bridge to the desktop (see
// docs/api of the shell); corvane-async.js gives the methods that answer
// through a callback a promise instead.
import { corvane, CorvaneError } from "./corvane-async.js";

/** @param {string} id */
function element(id) {
  const found = document.getElementById(id);
  if (!found) throw new Error(`the page has no #${id}`);
  return found;
}

const app = corvane.app;
const title = `${app.getAppName()} ${app.getAppVersion()}`;
element("title").textContent = title;
element("facts").textContent = `Running on ${app.getAppRunOnOS()}; your documents are in ${corvane.path.documentsDir()}.`;
console.log(`${title} started`);

element("open").addEventListener("click", async () => {
  try {
    const chosen = await corvane.window.openFile({ types: ["txt", "md", "json"], title: "Open a text file" });
    const file = chosen.filesArray?.[0];
    if (!file) return;
    const read = await corvane.binaryFileWriter.getTextFromFile({ filePath: file.filePath });
    element("content").textContent = read.content ?? "";
    document.title = `${file.fileName} — ${app.getAppName()}`;
  } catch (e) {
    // A cancelled dialog rejects too; it has no error text.
    if (e instanceof CorvaneError && !e.result.error) return;
    console.error(e);
  }
});
