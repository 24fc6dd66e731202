// @ts-check
// Tells when another program changes or removes the open document's file.
// The shell's watcher follows the path, so an editor that saves by
// renaming a new file over the old one (most do) reports "FileWritten"
// like any other write; a removal counts only when nothing comes back.
import { corvane } from "./corvane-async.js";

/** @typedef {"written" | "gone"} Change */

/** @type {string | null} */
let watched = null;
/** @type {(change: Change) => void} */
let report = () => {};
let settle = 0;

/** @param {Corvane.ChangeEvent} e */
function fileChanged(e) {
  if (e.path !== watched) return;  // a file the document has left
  if (e.flag !== "FileWritten" && e.flag !== "FileSizeIncreased" && e.flag !== "FileDeleted" && e.flag !== "FileRenamed")
    return;
  // One report per burst: a save is often a write, a size change and more.
  clearTimeout(settle);
  settle = setTimeout(() => {
    if (watched !== e.path) return;
    report(corvane.path.pathIsExist(e.path) ? "written" : "gone");
  }, 300);
}

// The shell calls watchers back by name.
Object.assign(window, { notesFileChanged: fileChanged });

/**
 * Watches `path` from now on (null: nothing), instead of the file before.
 * @param {string | null} path
 * @param {(change: Change) => void} onChange
 */
export function watchFile(path, onChange) {
  report = onChange;
  if (path === watched) return;
  if (watched && corvane.path.pathIsExist(watched))
    corvane.window.removeFromChangeWatcher(JSON.stringify({ path: watched }));
  watched = path;
  if (path && !corvane.window.createFileChangeWatcher(JSON.stringify({ path, callback: "notesFileChanged" })))
    console.warn(`cannot watch ${path} for changes`);
}

