// @ts-check
// Runs before the page's modules: files the desktop started Notes with can
// be handed to the page as soon as its document has loaded, before app.js
// has named its own drop callback, and so reach the callback's default
// name. They wait here for app.js.
/** @type {Corvane.DropResult[]} */
const filesArrivedEarly = [];
Object.assign(window, {
  filesArrivedEarly,
  app: { dragDropJSCallback: (/** @type {Corvane.DropResult} */ r) => { filesArrivedEarly.push(r); } },
});
