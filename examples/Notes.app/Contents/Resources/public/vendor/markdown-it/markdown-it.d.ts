// The part of markdown-it's interface that Notes uses (see README.md).
export interface Options {
  /** Raw HTML in the source is passed through (false: shown as text). */
  html?: boolean;
  /** Text that looks like a web address becomes a link. */
  linkify?: boolean;
  /** Quotes, dashes and ellipses set typographically. */
  typographer?: boolean;
}

export interface Token {
  attrGet(name: string): string | null;
  attrSet(name: string, value: string): void;
}

export type RenderRule = (tokens: Token[], index: number, options: Options, env: unknown, self: Renderer) => string;

export interface Renderer {
  rules: Record<string, RenderRule | undefined>;
  renderToken(tokens: Token[], index: number, options: Options): string;
}

export default class MarkdownIt {
  constructor(options?: Options);
  readonly renderer: Renderer;
  render(source: string, env?: unknown): string;
}
