// @ts-check
// The menu bar, built from the page on the shell's own menus: the File
// menu's document commands, Open Recent, the View menu's preview switch,
// and Quit and Close Window asking about unsaved work first.
import { corvane } from "./corvane-async.js";

/**
 * @typedef {{
 *   newDocument: () => void, open: () => void, openRecent: (path: string) => void, clearRecent: () => void,
 *   save: () => void, saveAs: () => void, exportPdf: () => void, copyHtml: () => void,
 *   togglePreview: () => void, closeWindow: () => void, quit: () => void,
 * }} Commands
 */

/** @type {Corvane.MenuProxy | null} */
let recentMenu = null;
/** @type {Corvane.MenuItemProxy | null} */
let previewItem = null;
/** @type {Commands | null} */
let commands = null;

/**
 * @template T
 * @param {T | null} value
 * @param {string} what
 * @returns {T}
 */
function need(value, what) {
  if (value === null) throw new Error(`the menu bar has no ${what}`);
  return value;
}

/** @param {Commands} actions */
export function buildMenus(actions) {
  commands = actions;
  const bar = corvane.menu;
  const appMenu = need(need(bar.getItem(0), "application menu").submenu(), "application menu");
  need(appMenu.getItem("Quit"), "Quit").setCallback(actions.quit);

  // The shell's File menu holds Close Window, a hidden item that brings a
  // closed main window back, and Print…. Index 1 puts an item second, so
  // the document commands go after the hidden item, where they show first;
  // Close Window comes back at the end.
  const file = need(need(bar.getItem("File"), "File menu").submenu(), "File menu");
  file.removeMenu("Close Window");
  /** @type {[string, string, (() => void) | null][]} */
  const items = [
    ["New", "cmd+n", actions.newDocument],
    ["Open…", "cmd+o", actions.open],
    ["Open Recent", "", null],
    ["Save", "cmd+s", actions.save],
    ["Save As…", "cmd+shift+s", actions.saveAs],
    ["Export as PDF…", "cmd+e", actions.exportPdf],
    ["Copy as HTML", "cmd+shift+c", actions.copyHtml],
  ];
  items.forEach(([title, key, run], i) => {
    const item = file.addItem(title, key, run, i + 1);
    if (title === "Open Recent") recentMenu = item.addSubmenu();
  });
  file.addSeparator();
  file.addItem("Close Window", "cmd+w", actions.closeWindow, 0);

  const view = need(need(bar.getItem("View"), "View menu").submenu(), "View menu");
  previewItem = view.addItem("Hide Preview", "cmd+shift+p", actions.togglePreview, 0);
}

/** @param {boolean} shown */
export function showPreviewState(shown) {
  previewItem?.setTitle(shown ? "Hide Preview" : "Show Preview");
}

/**
 * Fills File › Open Recent, newest first.
 * @param {string[]} paths
 */
export function showRecent(paths) {
  const menu = recentMenu;
  if (!menu || !commands) return;
  const { openRecent, clearRecent } = commands;
  while (menu.getItem(0)) menu.removeMenu(0);
  if (paths.length === 0) {
    menu.addItem("No Recent Documents", "", null, 0).disable();
    return;
  }
  const home = corvane.path.homeDir();
  for (const path of paths) {
    const at = path.lastIndexOf("/");
    const folder = path.slice(0, at) || "/";
    const shown = folder === home || folder.startsWith(home + "/") ? "~" + folder.slice(home.length) : folder;
    menu.addItem(`${path.slice(at + 1)} — ${shown}`, "", () => openRecent(path), 0);
  }
  menu.addSeparator();
  menu.addItem("Clear Menu", "", clearRecent, 0);
}
