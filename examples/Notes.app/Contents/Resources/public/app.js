// @ts-check
// Notes: a Markdown editor on the Corvane shell. This module wires the
// parts together: the document and its editor, the preview, the menus,
// the files, and the questions that keep unsaved work.
import { corvane } from "./corvane-async.js";
import { ask, asking } from "./ask.js";
import { NotesDocument } from "./document.js";
import { copyHtml, exportPdf } from "./export.js";
import { acceptedExtensions, chooseToOpen, chooseToSave, readText, reason, writeText } from "./files.js";
import { buildMenus, showPreviewState, showRecent } from "./menus.js";
import { attach, setFolder, toHtml } from "./preview.js";
import * as settings from "./settings.js";
import { describe, tell } from "./status.js";
import { watchFile } from "./watch.js";

/** @param {string} id */
function element(id) {
  const found = document.getElementById(id);
  if (!found) throw new Error(`the page has no #${id}`);
  return found;
}

const appName = corvane.app.getAppName();
const editor = /** @type {HTMLTextAreaElement} */ (element("editor"));
const doc = new NotesDocument(editor);
const render = attach(element("preview"), editor);
// Each open counts; one that finishes after a later one is dropped.
let loads = 0;
// The person agreed to lose the changes: beforeunload lets the page go.
let leaving = false;

// The title names the document and marks unsaved changes ("windowTitleFromPage").
doc.onChange(() => {
  document.title = `${doc.dirty ? "• " : ""}${doc.name} — ${appName}`;
  describe(doc.path, doc.text);
});

/**
 * @param {string | null} path
 * @param {string} text
 */
function show(path, text) {
  ++loads;
  doc.load(path, text);
  setFolder(doc.folder);
  render();
  watchFile(path, diskChanged);
  editor.focus();
}

const defaultFolder = () => doc.folder ?? corvane.path.documentsDir();

/** @param {string} path */
async function openPath(path) {
  const load = ++loads;
  let text;
  try {
    text = await readText(path);
  } catch (e) {
    if (load !== loads) return;
    tell(`Cannot open ${path}: ${reason(e)}`, { error: true });
    if (!corvane.path.pathIsExist(path)) showRecent(await settings.forgetRecent(path));
    return;
  }
  if (load !== loads) return;
  show(path, text);
  console.info(`opened ${path}`);
  showRecent(await settings.addRecent(path));
}

// ---- saving -------------------------------------------------------------------------

/**
 * Writes the document to `path`; true once it is there.
 * @param {string} path
 */
async function writeTo(path) {
  const text = doc.text;
  try {
    await writeText(path, doc.fileText());
  } catch (e) {
    tell(`Not saved: ${reason(e)}`, { error: true });
    return false;
  }
  doc.saved(path, text);
  setFolder(doc.folder);
  watchFile(path, diskChanged);
  tell(`Saved ${doc.name}`);
  console.info(`saved ${path}`);
  showRecent(await settings.addRecent(path));
  return true;
}

async function saveAs() {
  const path = await chooseToSave({ title: "Save As", fileName: doc.path ? doc.name : "Untitled.md", directory: defaultFolder(),
                                    types: ["md", "txt"], descriptions: ["Markdown", "Plain Text"] });
  return path ? writeTo(path) : false;
}

async function save() {
  return doc.path ? writeTo(doc.path) : saveAs();
}

/**
 * Whether the document may go: nothing unsaved, or the person saved it or
 * chose not to.
 * @param {string} before what is about to happen ("quitting")
 */
async function settle(before) {
  if (!doc.dirty) return true;
  const choice = await ask({
    title: `Save the changes to “${doc.name}” before ${before}?`,
    message: "If you don't save, your changes are lost.",
    choices: [{ label: "Don't Save", value: "discard", key: "d" }, { label: "Cancel", value: "cancel" },
              { label: "Save", value: "save", key: "s" }],
    defaultValue: "save", cancelValue: "cancel",
  });
  if (choice === "save") return save();
  return choice === "discard";
}

window.addEventListener("beforeunload", (e) => {
  // The title bar's close button, and reloads, reach the page only here:
  // the shell then asks "Leave this page?".
  if (doc.dirty && !leaving) {
    e.preventDefault();
    e.returnValue = "";
  }
});

// ---- another program changed the file -------------------------------------------------

let reconciling = Promise.resolve();

/** @param {import("./watch.js").Change} change */
function diskChanged(change) {
  reconciling = reconciling.then(() => reconcile(change)).catch((e) => console.error(reason(e)));
}

/** @param {import("./watch.js").Change} change */
async function reconcile(change) {
  const path = doc.path;
  if (!path) return;
  if (change === "gone") {
    if (!doc.missing) {
      doc.markMissing();
      tell(`${doc.name} was removed or renamed by another program; Save puts it back`, { error: true });
    }
    return;
  }
  let text;
  try {
    text = await readText(path);
  } catch {
    return;  // not readable now; its next change reports again
  }
  if (path !== doc.path) return;
  if (doc.isOnDisk(text)) {
    if (doc.missing) doc.diskHas(text);  // back as it was
    return;  // also the echo of our own save
  }
  if (!doc.edited) {
    doc.reload(text);
    render();
    tell(`Reloaded ${doc.name}: another program changed it`);
    console.info(`reloaded ${path}`);
    return;
  }
  const choice = await ask({
    title: `“${doc.name}” was changed by another program`,
    message: "Reload it and lose your changes, or keep your changes? Saving them then replaces what the other program wrote.",
    choices: [{ label: "Reload", value: "reload", key: "r" }, { label: "Keep My Changes", value: "keep", key: "k" }],
    defaultValue: "keep", cancelValue: "keep",
  });
  if (path !== doc.path) return;
  if (choice === "reload") {
    doc.reload(text);
    render();
    console.info(`reloaded ${path}`);
  } else {
    doc.diskHas(text);
  }
}

// ---- files dropped on the window or opened from the desktop ------------------------------

/** @param {Corvane.DropResult} r */
async function filesArrived(r) {
  const files = (r.filesArray ?? []).filter((f) => !f.isDir);
  if (files.length === 0) return;
  const first = files[0];
  // The path as it was delivered: a drop may give a file URL.
  const path = first.filePath.startsWith("file://") ? decodeURIComponent(new URL(first.filePath).pathname) : first.filePath;
  if (files.length > 1) tell(`${appName} opens one document at a time: ${first.fileName}`);
  if (path === doc.path) return;
  if (await settle("opening another document")) await openPath(path);
}
// The shell calls drop callbacks by name; set before anything is awaited, so
// that files opened with the application at its start find it.
Object.assign(window, { notesFilesArrived: filesArrived });
corvane.window.setDragDropConfig(JSON.stringify({
  enableFile: true, enableDir: false, fileTypes: acceptedExtensions, callback: "notesFilesArrived" }));

// ---- commands -----------------------------------------------------------------------------

/**
 * A menu command; what goes wrong is shown, not lost in the console.
 * @param {() => Promise<unknown>} run
 */
const command = (run) => () => {
  if (asking()) return;  // one question at a time
  run().catch((e) => tell(reason(e), { error: true }));
};

let previewShown = true;
/** @param {boolean} shown */
function showPreview(shown) {
  previewShown = shown;
  document.body.classList.toggle("editor-only", !shown);
  showPreviewState(shown);
  if (shown) render();
}

buildMenus({
  newDocument: command(async () => {
    if (await settle("starting a new document")) show(null, "");
  }),
  open: command(async () => {
    const path = await chooseToOpen(defaultFolder());
    if (path && (await settle("opening another document"))) await openPath(path);
  }),
  openRecent: (path) => command(async () => {
    if (path !== doc.path && (await settle("opening another document"))) await openPath(path);
  })(),
  clearRecent: command(async () => {
    await settings.store("recentDocuments", []);
    showRecent([]);
  }),
  save: command(save),
  saveAs: command(saveAs),
  exportPdf: command(async () => {
    const name = await exportPdf({ baseName: doc.name.replace(/\.[^.]+$/, ""), folder: defaultFolder(), render });
    if (name) tell(`Exported ${name}`);
    if (name) console.info(`exported ${name}`);
  }),
  copyHtml: command(async () => {
    copyHtml(toHtml(doc.text));
    tell("Copied the document as HTML");
    console.info("copied as HTML");
  }),
  togglePreview: command(async () => {
    showPreview(!previewShown);
    await settings.store("showPreview", previewShown);
  }),
  closeWindow: command(async () => {
    if (!(await settle("closing the window"))) return;
    leaving = true;
    window.close();  // the application quits with its last window
    setTimeout(() => { leaving = false; }, 2000);
  }),
  quit: command(async () => {
    if (!(await settle("quitting"))) return;
    leaving = true;
    corvane.app.terminate();
  }),
});

// ---- start ----------------------------------------------------------------------------------

// The shell keeps the window's frame; whether it was maximized is ours.
let rememberSize = 0;
document.addEventListener("orientationchange", () => {
  clearTimeout(rememberSize);
  rememberSize = setTimeout(() => settings.store("maximized", corvane.window.isMaximized()), 500);
});

async function start() {
  const before = loads;
  showPreview(await settings.load("showPreview", true));
  if (await settings.load("maximized", false)) corvane.window.maximize();
  const recent = await settings.recentDocuments();
  showRecent(recent);
  // A file opened with the application came first.
  if (loads !== before) return;
  const last = recent.find((p) => corvane.path.checkPathIsFile(p));
  if (last) {
    await openPath(last);
  } else if (!(await settings.load("welcomed", false))) {
    // The first start shows what Notes does, as a new document.
    const welcome = await readText(`${corvane.path.resource()}/Welcome.md`).catch(() => "");
    if (loads === before) show(null, welcome);
    await settings.store("welcomed", true);
  } else if (loads === before) {
    show(null, "");
  }
}

show(null, "");
// Files handed over before this module ran (early.js).
for (const r of /** @type {{ filesArrivedEarly?: Corvane.DropResult[] }} */ (window).filesArrivedEarly?.splice(0) ?? [])
  filesArrived(r).catch((e) => tell(reason(e), { error: true }));
start().catch((e) => tell(reason(e), { error: true }));
console.log(`${appName} ${corvane.app.getAppVersion()} started`);
