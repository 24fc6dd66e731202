// Calls that must not compile against the bridge's declarations. Each is
// marked: the file passes only while every mark meets an error, and the
// test also compiles each one without its mark to see it fail.
import { corvane as promised } from "./corvane-async.js";

// @ts-expect-error a path is text, not a number
corvane.path.getFileExt(42);
// @ts-expect-error the name is text
export const count: number = corvane.app.getAppName();
// @ts-expect-error no such method
corvane.window.frobnicate();
// @ts-expect-error the raw method takes the JSON text, not the object
corvane.window.openFile({ types: ["txt"] });
// @ts-expect-error badge is a property, not a method
corvane.dock.badge();
// @ts-expect-error notice is absent without a notification service
corvane.notice.notify("{}");
// @ts-expect-error growl has no alert
corvane.growl.alert("{}");
// @ts-expect-error the members are read-only
corvane.app = corvane.app;
// @ts-expect-error a menu item's callback gets the title, a text
corvane.menu.addItem("Tools", "", (title: number) => title, 0);
// @ts-expect-error fonts answers lists of texts
export const families: number[] = corvane.fonts.availableFontFamilies();
// @ts-expect-error the promised openFile takes an object
await promised.window.openFile("{}");
// @ts-expect-error copyFile needs its source
await promised.window.copyFile({ dest: "/tmp/b" });
// @ts-expect-error the promise answers a result, not text
export const text: string = await promised.window.copyFile({ src: "/tmp/a", dest: "/tmp/b" });
// @ts-expect-error the promised methods add their own callback
await promised.window.removeFile({ path: "/tmp/a", callback: "done" });
// @ts-expect-error events carry their data as the bridge sends it
document.addEventListener("appActivated", (e) => e.data.bundleUrl);
