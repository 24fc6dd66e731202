// @ts-check
// What Notes keeps between runs, in the application's user defaults
// (~/.config/corvane/<identifier>.json): the recent documents, the
// layout, whether the window was maximized. The shell itself keeps the
// window's position and size.
import { corvane, CorvaneError } from "./corvane-async.js";

/**
 * The value stored under `key`, or `fallback` when there is none.
 * @template T
 * @param {string} key
 * @param {T} fallback
 * @returns {Promise<T>}
 */
export async function load(key, fallback) {
  try {
    const read = await corvane.window.getInfoFromUserDefaults({ key });
    return /** @type {T} */ (read.result ?? fallback);
  } catch (e) {
    if (e instanceof CorvaneError) return fallback;  // never stored
    throw e;
  }
}

/**
 * @param {string} key
 * @param {unknown} value
 */
export async function store(key, value) {
  try {
    await corvane.window.setInfoToUserDefaults({ key, value });
  } catch (e) {
    console.warn(`cannot remember ${key}: ${e instanceof Error ? e.message : e}`);
  }
}

const maxRecent = 10;

/** The documents opened or saved last, newest first. */
export async function recentDocuments() {
  const list = await load("recentDocuments", /** @type {string[]} */ ([]));
  return Array.isArray(list) ? list.filter((p) => typeof p === "string") : [];
}

/**
 * Puts `path` first in the recent documents (and in the desktop's).
 * @param {string} path
 * @returns {Promise<string[]>} the new list
 */
export async function addRecent(path) {
  const list = [path, ...(await recentDocuments()).filter((p) => p !== path)].slice(0, maxRecent);
  await store("recentDocuments", list);
  corvane.window.addRecentDocument(JSON.stringify({ url: path }));
  return list;
}

/**
 * @param {string} path
 * @returns {Promise<string[]>}
 */
export async function forgetRecent(path) {
  const list = (await recentDocuments()).filter((p) => p !== path);
  await store("recentDocuments", list);
  return list;
}
