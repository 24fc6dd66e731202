// @ts-check
// The questions Notes asks ("Save changes?"), in a dialog of the page: one
// at a time, answered with the mouse or the keyboard (Enter takes the
// default button, Escape cancels, Alt and an underlined letter picks that
// button).

/**
 * @typedef {{ label: string, value: string, key?: string }} Choice
 * @typedef {{ title: string, message: string, choices: Choice[], defaultValue: string, cancelValue: string }} Question
 */

/** @type {Promise<unknown>} */
let pending = Promise.resolve();

/** @param {string} id */
function part(id) {
  const found = document.getElementById(id);
  if (!found) throw new Error(`the page has no #${id}`);
  return found;
}

/**
 * A label with its access key's letter underlined.
 * @param {Choice} choice
 */
function labelOf(choice) {
  const span = document.createElement("span");
  const at = choice.key ? choice.label.toLowerCase().indexOf(choice.key) : -1;
  if (at < 0) {
    span.textContent = choice.label;
  } else {
    const u = document.createElement("u");
    u.textContent = choice.label[at];
    span.append(choice.label.slice(0, at), u, choice.label.slice(at + 1));
  }
  return span;
}

/**
 * Asks the question and answers the value of the chosen button.
 * @param {Question} question
 * @returns {Promise<string>}
 */
export function ask(question) {
  const answer = pending.then(() => show(question));
  pending = answer.catch(() => undefined);
  return answer;
}

/** Whether a question is up. */
export function asking() {
  return /** @type {HTMLDialogElement} */ (part("ask")).open;
}

/** @param {Question} question @returns {Promise<string>} */
function show(question) {
  const dialog = /** @type {HTMLDialogElement} */ (part("ask"));
  const buttons = part("ask-buttons");
  part("ask-title").textContent = question.title;
  part("ask-message").textContent = question.message;
  buttons.replaceChildren();
  /** @type {HTMLButtonElement | null} */
  let defaultButton = null;
  for (const choice of question.choices) {
    const button = document.createElement("button");
    button.value = choice.value;
    button.append(labelOf(choice));
    if (choice.value === question.defaultValue) {
      button.classList.add("default");
      defaultButton = button;
    }
    buttons.append(button);
  }
  const focusBefore = document.activeElement;
  return new Promise((resolve) => {
    /** @param {KeyboardEvent} e */
    const onKey = (e) => {
      if (!e.altKey) return;
      const choice = question.choices.find((c) => c.key && c.key === e.key.toLowerCase());
      if (!choice) return;
      e.preventDefault();
      dialog.close(choice.value);
    };
    dialog.addEventListener("keydown", onKey);
    dialog.addEventListener("close", () => {
      dialog.removeEventListener("keydown", onKey);
      if (focusBefore instanceof HTMLElement) focusBefore.focus();
      // Escape closes the dialog without a value.
      const value = dialog.returnValue || question.cancelValue;
      console.info(`answer: ${value}`);
      resolve(value);
    }, { once: true });
    dialog.returnValue = "";
    dialog.showModal();
    console.info(`question: ${question.title}`);
    defaultButton?.focus();
  });
}
