// corvane-async.js: the Corvane bridge with promises instead of callbacks
// by name. Ships with the shell (<datadir>/corvane/js); `corvane-kit new`
// copies it into a new application's public folder.
//
//   import { corvane, CorvaneError } from "./corvane-async.js";
//   try {
//     const chosen = await corvane.window.openFile({ types: ["txt"] });
//     console.log(chosen.filesArray[0].filePath);
//   } catch (e) {
//     if (e instanceof CorvaneError) console.log("no file:", e.result);
//   }
//
// `corvane` here is the page's bridge with the methods listed below taking
// their parameters as an object and answering with a promise; every other
// member and method is the bridge's own. A promise resolves with what the
// callback received, and rejects with a CorvaneError when that has
// `success: false` (a cancelled dialog, a failed copy), or with the error
// the call threw. Use it in the page's main frame: callbacks by name run
// there.
//
// Its types are in corvane-async.d.ts beside it; projects that check their
// JavaScript take them from there, not from this file.
// @ts-nocheck

/** The methods that answer exactly once through "callback", by member. */
export const asyncMethods = Object.freeze({
  app: Object.freeze(["sendMessageToXPCService"]),
  window: Object.freeze([
    "openFile", "saveFile",
    "copyFile", "copyDir", "moveFile", "moveDir", "removeFile", "removeDir", "createDir", "createEmptyFile",
    "findFile", "getFileInfo", "revealInFinder", "previewFile",
    "setMenuProperty", "capture", "print", "printToPDF",
    "saveAppInfoToLocal", "getAppInfoFromLocal", "setInfoToUserDefaults", "getInfoFromUserDefaults",
    "removeItemFromUserDefaults", "getOtherAppInfo",
  ]),
  binaryFileWriter: Object.freeze([
    "writeBinaryArray", "base64ToFile", "writeTextToFile", "base64ToImageFile", "imageFileConvertToOthers",
    "getTextFromFile",
  ]),
  iap: Object.freeze([
    "registerHelper", "startService", "requestProducts", "buy", "restore", "getPrice", "getUseCount", "useProduct",
  ]),
});

// Keys without which a method answers nothing at all: the promise would
// never settle, so it is refused at once.
const required = {
  "app.sendMessageToXPCService": ["xpc_key"],
  "window.copyFile": ["src"], "window.copyDir": ["src"], "window.moveFile": ["src"], "window.moveDir": ["src"],
  "window.removeFile": ["path"], "window.removeDir": ["path"],
  "window.createDir": ["path"], "window.createEmptyFile": ["path"],
  "window.getFileInfo": ["filePath"], "window.previewFile": ["filePath"], "window.capture": ["filePath"],
  "binaryFileWriter.writeBinaryArray": ["filePath"], "binaryFileWriter.base64ToFile": ["filePath"],
  "binaryFileWriter.writeTextToFile": ["filePath"], "binaryFileWriter.base64ToImageFile": ["filePath"],
  "binaryFileWriter.imageFileConvertToOthers": ["filePath"], "binaryFileWriter.getTextFromFile": ["filePath"],
};

/** A callback answered `success: false`; `result` is what it received. */
export class CorvaneError extends Error {
  constructor(method, result) {
    super(result && typeof result.error === "string" && result.error ? result.error : method + " did not succeed");
    this.name = "CorvaneError";
    this.method = method;
    this.result = result;
  }
}

// Callbacks by name reach functions through a global path.
const registryName = "__corvaneAsync";
const registry = (globalThis[registryName] ??= Object.create(null));
let nextId = 0;

function bridge() {
  const b = globalThis.corvane;
  if (!b) throw new Error("no Corvane bridge in this page (is it a page of the application?)");
  return b;
}

/**
 * Calls `corvane[member][method]` with `params` and a callback of its own;
 * resolves with what the callback receives.
 */
export function call(member, method, params = {}) {
  return new Promise((resolve, reject) => {
    const what = member + "." + method;
    if (params === null || typeof params !== "object" || Array.isArray(params))
      throw new TypeError(what + ": the parameters must be an object");
    for (const key of required[what] ?? [])
      if (params[key] === undefined || params[key] === null)
        throw new TypeError(what + ": \"" + key + "\" is required");
    const target = bridge()[member];
    const fn = target && target[method];
    if (typeof fn !== "function") throw new TypeError("corvane." + what + " is not a method of this shell");
    const id = "c" + ++nextId;
    registry[id] = (result) => {
      delete registry[id];
      if (result && typeof result === "object" && result.success === false) reject(new CorvaneError(what, result));
      else resolve(result);
    };
    const args = { ...params, callback: registryName + "." + id };
    // Reading text through the callback needs the asynchronous read.
    if (what === "binaryFileWriter.getTextFromFile") args.async = true;
    try {
      fn.call(target, JSON.stringify(args));
    } catch (e) {
      delete registry[id];
      throw e;
    }
  });
}

const members = new Map();

function asyncMember(name) {
  if (!members.has(name)) {
    const names = new Set(asyncMethods[name]);
    members.set(name, new Proxy(Object.create(null), {
      get(_, key) {
        if (typeof key === "string" && names.has(key)) return (params) => call(name, key, params);
        const target = bridge()[name];
        const value = target[key];
        return typeof value === "function" ? value.bind(target) : value;
      },
      has(_, key) {
        return key in bridge()[name];
      },
    }));
  }
  return members.get(name);
}

/** The bridge, with promises for the methods of `asyncMethods`. */
export const corvane = new Proxy(Object.create(null), {
  get(_, key) {
    if (typeof key === "string" && Object.hasOwn(asyncMethods, key)) return asyncMember(key);
    return bridge()[key];
  },
  has(_, key) {
    return key in bridge();
  },
});

export default corvane;
