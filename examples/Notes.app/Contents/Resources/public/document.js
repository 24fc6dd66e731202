// @ts-check
// The open document: where it lives, the text its file holds, and whether
// the editor has changes that are not on disk yet.

/** @param {string} text */
const normalize = (text) => text.replace(/\r\n?/g, "\n");

export class NotesDocument {
  /** @param {HTMLTextAreaElement} editor */
  constructor(editor) {
    this.editor = editor;
    /** @type {string | null} the file; null until the document is saved */
    this.path = null;
    // What the file holds (line ends as "\n", as the editor has them), so
    // that undoing every edit makes the document clean again; for a new
    // document, the text it started with.
    this.onDisk = "";
    // A file written with "\r\n" is saved with them again.
    this.lineEnd = "\n";
    // The file went away while open: only saving puts it back.
    this.missing = false;
    /** @type {Set<() => void>} */
    this.listeners = new Set();
    editor.addEventListener("input", () => this.changed());
  }

  get name() {
    return this.path ? this.path.slice(this.path.lastIndexOf("/") + 1) : "Untitled";
  }

  get folder() {
    return this.path ? this.path.slice(0, this.path.lastIndexOf("/")) || "/" : null;
  }

  /** The editor's text differs from the file's. */
  get edited() {
    return this.editor.value !== this.onDisk;
  }

  /** Saving has something to do: edits, or a file that went away. */
  get dirty() {
    return this.missing || this.edited;
  }

  get text() {
    return this.editor.value;
  }

  /** The editor's text as the file is to hold it. */
  fileText() {
    return this.lineEnd === "\r\n" ? this.editor.value.replace(/\n/g, "\r\n") : this.editor.value;
  }

  /**
   * Shows a document: a file's text, or a new one (path null) that starts
   * with `text`.
   * @param {string | null} path
   * @param {string} text
   */
  load(path, text) {
    this.path = path;
    this.lineEnd = text.includes("\r\n") ? "\r\n" : "\n";
    this.onDisk = normalize(text);
    this.missing = false;
    this.editor.value = normalize(text);
    this.editor.setSelectionRange(0, 0);
    this.editor.scrollTop = 0;
    this.changed();
  }

  /**
   * Takes the file's new text after another program changed it, keeping
   * the caret and the scroll position where they can stay.
   * @param {string} text
   */
  reload(text) {
    const { selectionStart, selectionEnd, scrollTop } = this.editor;
    this.onDisk = normalize(text);
    this.missing = false;
    this.editor.value = this.onDisk;
    this.editor.setSelectionRange(Math.min(selectionStart, this.onDisk.length), Math.min(selectionEnd, this.onDisk.length));
    this.editor.scrollTop = scrollTop;
    this.changed();
  }

  /**
   * Whether `text` (the file's content) is what this document last read or
   * wrote: true for the echo of its own save.
   * @param {string} text
   */
  isOnDisk(text) {
    return normalize(text) === this.onDisk;
  }

  /**
   * The file holds `text` now (read after another program's change, and
   * the editor keeps its own edits).
   * @param {string} text
   */
  diskHas(text) {
    this.onDisk = normalize(text);
    this.missing = false;
    this.changed();
  }

  /**
   * The editor's text as of `written` is in the file at `path`.
   * @param {string} path
   * @param {string} written the editor's text that was saved
   */
  saved(path, written) {
    this.path = path;
    this.onDisk = written;
    this.missing = false;
    this.changed();
  }

  markMissing() {
    this.missing = true;
    this.changed();
  }

  /** @param {() => void} listener called after every change */
  onChange(listener) {
    this.listeners.add(listener);
  }

  changed() {
    for (const listener of this.listeners) listener();
  }
}
