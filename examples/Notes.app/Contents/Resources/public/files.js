// @ts-check
// Reading and writing documents, and the open and save dialogs, through
// the shell's bridge.
import { corvane, CorvaneError } from "./corvane-async.js";

/** The extensions Notes opens; drops and files opened from the desktop are matched exactly. */
export const documentTypes = ["md", "markdown", "txt"];
export const acceptedExtensions = documentTypes.flatMap((t) => [t, t.toUpperCase()]);

/**
 * A dialog the person cancelled answers success false without an error.
 * @param {unknown} e
 */
const cancelled = (e) => e instanceof CorvaneError && !e.result?.error;

/** @param {unknown} e */
export const reason = (e) => (e instanceof Error ? e.message : String(e));

/**
 * The file's text (UTF-8).
 * @param {string} path
 * @returns {Promise<string>}
 */
export async function readText(path) {
  const read = await corvane.binaryFileWriter.getTextFromFile({ filePath: path, encode: "utf8" });
  return read.content ?? "";
}

/**
 * Replaces the file's content with `text`. The writer replaces a file in
 * one step (the old content or the new one, never half of each), but it
 * writes no empty files: those are cut to nothing instead.
 * @param {string} path
 * @param {string} text
 */
export async function writeText(path, text) {
  if (text === "") {
    if (!corvane.path.pathIsExist(path)) await corvane.window.createEmptyFile({ path });
    else if (corvane.binaryFileWriter.truncateFile_atPosition_(path, 0) !== 0)
      throw new Error(`cannot empty ${path}`);
    return;
  }
  try {
    await corvane.binaryFileWriter.writeTextToFile({ filePath: path, text, dataAppend: false });
  } catch (e) {
    // A path that cannot be written at all was explained in the writer's
    // own alert ("Can't save file"), which answers without an error text.
    throw cancelled(e) ? new Error(`cannot save ${path}`) : e;
  }
}

/**
 * Asks for a document to open; null when the person cancelled.
 * @param {string} directory
 * @returns {Promise<string | null>}
 */
export async function chooseToOpen(directory) {
  try {
    const chosen = await corvane.window.openFile({ title: "Open Document", types: documentTypes, directory });
    return chosen.filesArray?.[0]?.filePath ?? null;
  } catch (e) {
    if (cancelled(e)) return null;
    throw e;
  }
}

/**
 * Asks where to save; null when the person cancelled. An existing file the
 * person chose to replace is gone when this answers.
 * @param {{ title: string, fileName: string, directory: string, types: string[], descriptions: string[] }} what
 * @returns {Promise<string | null>}
 */
export async function chooseToSave(what) {
  try {
    const chosen = await corvane.window.saveFile({
      title: what.title, fileName: what.fileName, directory: what.directory,
      types: what.types, typesDescript: what.descriptions, enableFileFormatCombox: what.types.length > 1,
    });
    return chosen.filePath ?? null;
  } catch (e) {
    if (cancelled(e)) return null;
    throw e;
  }
}
