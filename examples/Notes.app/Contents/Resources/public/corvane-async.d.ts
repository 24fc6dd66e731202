// Types of corvane-async.js: the Corvane bridge with promises. They use
// the bridge's own declarations (the global namespace `Corvane` of
// corvane.d.ts), which the project must include too.

export declare const asyncMethods: {
  readonly app: readonly ["sendMessageToXPCService"];
  readonly window: readonly string[];
  readonly binaryFileWriter: readonly string[];
  readonly iap: readonly string[];
};

/** A callback answered `success: false`; `result` is what it received. */
export declare class CorvaneError extends Error {
  readonly method: string;
  readonly result: Corvane.Result & Record<string, unknown>;
}

/** Parameters of a promised method: no callback, the wrapper adds its own. */
type Params<P> = Omit<P, "callback">;

export interface AsyncApp extends Omit<Corvane.App, "sendMessageToXPCService"> {
  sendMessageToXPCService(params: Params<Corvane.SendMessageToXPCServiceParams>): Promise<Corvane.XPCReply>;
}

export interface AsyncWindow
  extends Omit<
    Corvane.Window,
    | "openFile" | "saveFile" | "copyFile" | "copyDir" | "moveFile" | "moveDir" | "removeFile" | "removeDir"
    | "createDir" | "createEmptyFile" | "findFile" | "getFileInfo" | "revealInFinder" | "previewFile"
    | "setMenuProperty" | "capture" | "print" | "printToPDF" | "saveAppInfoToLocal" | "getAppInfoFromLocal"
    | "setInfoToUserDefaults" | "getInfoFromUserDefaults" | "removeItemFromUserDefaults" | "getOtherAppInfo"
  > {
  /** Rejects when the dialog is cancelled. With `compatible` and one file, resolves with its record. */
  openFile(params?: Params<Corvane.OpenFileParams>): Promise<Corvane.OpenFileResult>;
  /** Rejects when the dialog is cancelled. */
  saveFile(params?: Params<Corvane.SaveFileParams>): Promise<Corvane.SaveFileResult>;
  copyFile(params: Params<Corvane.CopyParams>): Promise<Corvane.Result>;
  copyDir(params: Params<Corvane.CopyParams>): Promise<Corvane.Result>;
  moveFile(params: Params<Corvane.CopyParams>): Promise<Corvane.Result>;
  moveDir(params: Params<Corvane.CopyParams>): Promise<Corvane.Result>;
  removeFile(params: Params<Corvane.PathParams>): Promise<Corvane.Result>;
  removeDir(params: Params<Corvane.PathParams>): Promise<Corvane.Result>;
  createDir(params: Params<Corvane.CreateDirParams>): Promise<Corvane.Result>;
  createEmptyFile(params: Params<Corvane.PathParams>): Promise<Corvane.Result>;
  findFile(params: Params<Corvane.FindFileParams>): Promise<Corvane.FindFileResult>;
  getFileInfo(params: Params<Corvane.FilePathParams>): Promise<Corvane.FileInfoResult>;
  revealInFinder(params: Params<Corvane.RevealParams>): Promise<Corvane.Result>;
  previewFile(params: Params<Corvane.FilePathParams>): Promise<Corvane.Result>;
  setMenuProperty(params: Params<Corvane.MenuPropertyParams>): Promise<Record<string, never>>;
  capture(params: Params<Corvane.CaptureParams>): Promise<Corvane.Result>;
  print(params?: Params<Corvane.PrintParams>): Promise<Corvane.Result>;
  printToPDF(params: Params<Corvane.FilePathParams>): Promise<Corvane.Result>;
  saveAppInfoToLocal(params: Params<Corvane.SaveAppInfoParams>): Promise<Corvane.Result>;
  getAppInfoFromLocal(params: Params<Corvane.FilePathParams>): Promise<Corvane.AppInfoResult>;
  setInfoToUserDefaults(params: Params<Corvane.SetDefaultsParams>): Promise<Corvane.Result>;
  getInfoFromUserDefaults(params: Params<Corvane.DefaultsKeyParams>): Promise<Corvane.DefaultsResult>;
  removeItemFromUserDefaults(params: Params<Corvane.DefaultsKeyParams>): Promise<Corvane.Result>;
  getOtherAppInfo(params: Params<Corvane.OtherAppInfoParams>): Promise<Corvane.OtherAppInfoResult>;
}

export interface AsyncBinaryFileWriter
  extends Omit<
    Corvane.BinaryFileWriter,
    "writeBinaryArray" | "base64ToFile" | "writeTextToFile" | "base64ToImageFile" | "imageFileConvertToOthers"
    | "getTextFromFile"
  > {
  writeBinaryArray(params: Params<Corvane.WriteBinaryArrayParams>): Promise<Corvane.WriteResult>;
  base64ToFile(params: Params<Corvane.Base64ToFileParams>): Promise<Corvane.WriteResult>;
  writeTextToFile(params: Params<Corvane.WriteTextParams>): Promise<Corvane.WriteResult>;
  base64ToImageFile(params: Params<Corvane.Base64ToImageParams>): Promise<Corvane.ImageResult>;
  imageFileConvertToOthers(params: Params<Corvane.ImageConvertParams>): Promise<Corvane.ImageResult>;
  /** Always reads on a worker thread (`async` is set). */
  getTextFromFile(params: Params<Omit<Corvane.GetTextParams, "async">>): Promise<Corvane.TextResult>;
}

export interface AsyncIAP
  extends Omit<
    Corvane.IAP,
    "registerHelper" | "startService" | "requestProducts" | "buy" | "restore" | "getPrice" | "getUseCount"
    | "useProduct"
  > {
  registerHelper(params: Params<Corvane.RegisterHelperParams>): Promise<Corvane.RegisterHelperResult>;
  startService(params?: Params<Corvane.StoreParams>): Promise<Corvane.StoreResult>;
  requestProducts(params?: Params<Corvane.RequestProductsParams>): Promise<Corvane.ProductsResult>;
  /** Resolves once the purchase is under way or done; its outcome is notified. */
  buy(params: Params<Corvane.BuyParams>): Promise<Corvane.StoreResult>;
  restore(params?: Params<Corvane.StoreParams>): Promise<Corvane.StoreResult>;
  getPrice(params: Params<Corvane.ProductParams>): Promise<Corvane.PriceResult>;
  getUseCount(params: Params<Corvane.ProductParams>): Promise<Corvane.UseCountResult>;
  useProduct(params: Params<Corvane.UseProductParams>): Promise<Corvane.UseCountResult>;
}

export type AsyncBridge = Omit<Corvane.Bridge, "app" | "window" | "binaryFileWriter" | "iap"> & {
  readonly app: AsyncApp;
  readonly window: AsyncWindow;
  readonly binaryFileWriter: AsyncBinaryFileWriter;
  readonly iap: AsyncIAP;
};

/** The bridge, with promises for the methods of `asyncMethods`. */
export declare const corvane: AsyncBridge;
export default corvane;

/** Calls `corvane[member][method]` with `params` and a callback of its own. */
export declare function call<R = Corvane.Result>(
  member: "app" | "window" | "binaryFileWriter" | "iap",
  method: string,
  params?: Record<string, unknown>,
): Promise<R>;
