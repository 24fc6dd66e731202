// TypeScript declarations of the Corvane bridge: the object a Corvane
// application's page finds as `corvane` (also `quorlix` and `ZVRLabJs`),
// every member and method with its parameters and answer, the parameter
// objects of the methods that take a JSON text, what their callbacks
// receive, and the page events.
//
// Installed with the shell as <datadir>/corvane/types/corvane.d.ts. Use it
// with a reference or from a tsconfig.json / jsconfig.json:
//
//   /// <reference path="/usr/share/corvane/types/corvane.d.ts" />
//
// Methods that take one JSON text are declared with `json: string`; the
// interface named in their comment (`OpenFileParams`, ...) is the object
// to pass through JSON.stringify. The module corvane-async.js (shipped
// beside these types in <datadir>/corvane/js) takes those objects directly
// and answers with a promise. The page API is described in docs/api.

declare namespace Corvane {
  // ---- values shared by many methods ----------------------------------------

  /** What a callback by name receives: `success`, and `error` on failure. */
  interface Result {
    success: boolean;
    /** Why it failed. */
    error?: string;
  }

  /** A page function's name, or a dotted path to one ("app.onSaved"), called as `name(result)`. */
  type CallbackName = string;

  /** Parameters every callback method takes. */
  interface CallbackParams {
    /** The page function called with the answer. */
    callback?: CallbackName;
  }

  /** One file or folder, as dialogs and drops describe it. */
  interface FileRecord {
    filePath: string;
    fileUrl: string;
    parentDir?: string;
    fileName: string;
    fileNameWithoutExtension: string;
    extension: string;
    isReadable: boolean;
    isWritable: boolean;
    isExecutable: boolean;
    isDeletable: boolean;
    isFile: boolean;
    isDir: boolean;
    fileSize: number;
    fileSizeStr: string;
  }

  /** JSON of a point: `{"x": …, "y": …}` (origin at the lower left of the main screen). */
  type PointJson = string;
  /** JSON of a size: `{"width": …, "height": …}`. */
  type SizeJson = string;

  // ---- the bridge root ---------------------------------------------------------

  /** The bridge object: `corvane`, `quorlix` and `ZVRLabJs` are this one object. */
  interface WebViewDelegate {
    readonly sound: Sound;
    readonly dock: Dock;
    readonly growl: Growl;
    /** Present only when a notification service answered when the page started. */
    readonly notice?: Notice;
    readonly path: Path;
    readonly clipboard: Clipboard;
    readonly app: App;
    readonly window: Window;
    readonly fonts: Fonts;
    /** The application's menu bar. */
    readonly menu: MenuProxy;
    /** The page's right-click menu. */
    readonly menuitems_settings: WebMenuItemSettings;
    readonly binaryFileWriter: BinaryFileWriter;
    /** In-app purchases through a purchase helper bundle. */
    readonly iap: IAP;
    /** An icon in the desktop's status area. */
    readonly tray: Tray;
    /** Always null: no script face. */
    readonly requestedWindow: null;
    /** Always null: no script face. */
    readonly mainMenu: null;
    /**
     * Set by the page: receives the paths of files dropped on the window or
     * opened with the application.
     */
    handleDropFiles?: (paths: string[]) => void;
  }
  /** The bridge object. */
  type Bridge = WebViewDelegate;

  // ---- app ----------------------------------------------------------------------

  interface SendEmailParams {
    toAddress?: string;
    subject?: string;
    body?: string;
    /** Read but not used. */
    senderAddress?: string;
  }

  interface RegisterXPCServiceParams {
    /** The page's own name for the connection. */
    key: string;
    /** The helper's bus name. */
    id: string;
  }

  interface SendMessageToXPCServiceParams extends CallbackParams {
    xpc_key: string;
    /** Sent to the helper, with "con_id" set to the key. */
    messageDic?: Record<string, unknown>;
  }

  /** What `sendMessageToXPCService`'s callback receives. */
  interface XPCReply extends Result {
    /** The helper's reply (null when it answered with no object). */
    message?: unknown;
  }

  /** The application as a whole. */
  interface App {
    terminate(): void;
    relaunch(): void;
    activate(): void;
    hide(): void;
    unhide(): void;
    beep(): void;
    bounce(): void;
    /** Opens the URL with the desktop's default handler. */
    open(url: string): void;
    /** Starts the installed application of that name, display name, desktop-entry id or program. */
    launch(name: string): void;
    /** Opens the file with its default application. */
    openFile(path: string): void;
    /** @param json JSON text of {@link SendEmailParams}. */
    sendEmailWithMail(json: string): void;
    /** The command line without the program itself. */
    getAppArgv(): string[];
    getAppName(): string;
    getAppVersion(): string;
    getAppBuildVersion(): string;
    getAppIdentifier(): string;
    /** "Linux". */
    getAppRunOnOS(): string;
    isStartAtLogin(): boolean;
    setStartAtLogin(on: boolean): void;
    /** "" restores the standard agent. */
    setCustomUserAgent(agent: string): void;
    /** Seconds since the last keyboard or pointer input. */
    systemIdleTime(): number;
    getSandboxEnable(): boolean;
    /** JSON of the user defaults, with "AppleLanguages". */
    getUserDefaultInfoString(): string;
    /** Seconds since 1970-01-01 UTC. */
    getNowTimeStamp(): number;
    /** The local HTTP server's port, 0 when none runs. */
    getHttpServerPort(): number;
    getIAPEnable(): boolean;
    /** Bytes of all the files at the path. */
    fileSizeAtPath(path: string): number;
    /** Bytes the files take on disk. */
    diskSizeAtPath(path: string): number;
    /** "1.5MB" (base 1000). */
    getFileSizeString1000(bytes: number | string): string;
    /** "1.4MB" (base 1024). */
    getFileSizeString1024(bytes: number | string): string;
    /** 32 lower-case hex digits. */
    md5Digest(text: string): string;
    curAppleLanguage(): string;
    curUserLanguage(): string;
    setUserLanguage(language: string): boolean;
    /** JSON array of the system's languages. */
    curAppleSupportLanguagesJSONString(): string;
    getBuyURL(): string;
    getFAQURL(): string;
    getHomePageURL(): string;
    getDocumentPageURL(): string;
    getRoadmapPageURL(): string;
    getReportIssuePageURL(): string;
    getViewLicensePageURL(): string;
    getReleaseNotesPageURL(): string;
    getCheckForUpdatePageURL(): string;
    /** The first non-loopback IPv4 address, or "". */
    getLocalIP(): string;
    /** @param json JSON text of {@link RegisterXPCServiceParams}. */
    registerNewXPCService(json: string): boolean;
    unRegisterXPCService(key: string): boolean;
    hasXPCService(key: string): boolean;
    resumeXPCService(key: string): void;
    suspendXPCService(key: string): void;
    invalidateXPCService(key: string): void;
    /** @param json JSON text of {@link SendMessageToXPCServiceParams}; the callback gets an {@link XPCReply}. */
    sendMessageToXPCService(json: string): void;
    name(): string;
    ver(): string;
    build_ver(): string;
    copyright(): string;
    notes(): string;
    identifier(): string;
    /** The whole Info.plist. */
    infoDictionary(): Record<string, unknown>;
  }

  // ---- path ---------------------------------------------------------------------

  /** Folders, paths and file names. */
  interface Path {
    application(): string;
    resource(): string;
    homeDir(): string;
    documentsDir(): string;
    libraryDir(): string;
    tempDir(): string;
    cacheDir(): string;
    applicationDir(): string;
    desktopDir(): string;
    downloadDir(): string;
    moviesDir(): string;
    musicDir(): string;
    picturesDir(): string;
    applicationName(): string;
    userName(): string;
    userFullName(): string;
    localDocumentsDir(): string;
    localMoviesDir(): string;
    localMusicDir(): string;
    localPicturesDir(): string;
    localDownloadDir(): string;
    localDesktopDir(): string;
    localLibraryDir(): string;
    appWriteableDocumentDir(): string;
    appWriteableDownloadDir(): string;
    appWriteableMoviesDir(): string;
    appWriteableMusicDir(): string;
    appWriteablePicturesDir(): string;
    appPluginDirPath(): string;
    appUIDirPath(): string;
    appDataHomeDir(): string;
    pathIsExist(path: string): boolean;
    fileIsZeroSize(path: string): boolean;
    checkPathIsWritable(path: string): boolean;
    checkPathIsReadable(path: string): boolean;
    checkPathIsExecutable(path: string): boolean;
    checkPathIsDeletable(path: string): boolean;
    checkPathIsFile(path: string): boolean;
    checkPathIsDir(path: string): boolean;
    /** A fresh path in the temporary folder ending in `_<name>`. */
    getNewTempFilePath(name: string): string;
    getFileName(path: string): string;
    getFileNameWithoutExt(path: string): string;
    getFileExt(path: string): string;
    getPathParentPath(path: string): string;
    /** JSON of the item's attributes ("NSFileType", "NSFileSize", ...), "" when missing. */
    getFilePropertyJSONString(path: string): string;
    /** A PNG of the item's icon, "" when missing. */
    getFileOrDirIconPath(path: string): string;
    /** The text with its placeholders (`${HOME}`, ...) replaced. */
    getUpdateEnvString(text: string): string;
  }

  // ---- window -------------------------------------------------------------------

  interface PointParams {
    x?: number;
    y?: number;
  }
  interface SizeParams {
    width?: number;
    height?: number;
  }
  interface OpenWindowParams {
    /** Relative to the bundle's resources, or absolute. */
    url: string;
  }

  interface MenuPropertyParams extends CallbackParams {
    menuTag: number;
    isSeparatorItem?: boolean;
    /** "##**" keeps the title. */
    title?: string;
    hideMenu?: boolean;
    /** A page function called with `{}` each time the item is chosen. */
    action?: CallbackName;
    replaceOldAction?: boolean;
  }

  interface FileDialogParams extends CallbackParams {
    title?: string;
    /** The accept button's label. */
    prompt?: string;
    panelMessage?: string;
    /** Extensions without dot; "*" allows everything. */
    types?: string[];
    fileTypes?: string[];
    /** A path or a file:// URL. */
    directory?: string;
    canCreateDir?: boolean;
    enableFileFormatCombox?: boolean;
    typesDescript?: string[];
    fileTypesDescription?: string[];
    canAddToRecent?: boolean;
  }
  interface OpenFileParams extends FileDialogParams {
    canChooseFiles?: boolean;
    canChooseDir?: boolean;
    allowMulSelection?: boolean;
    calculateDirSize?: boolean;
    /** With single selection: the callback gets the file record itself. */
    compatible?: boolean;
  }
  /** What `openFile`'s callback receives (without `compatible`). */
  interface OpenFileResult extends Result {
    filesArray?: FileRecord[];
    filesCount?: number;
    parentDir?: string;
  }
  interface SaveFileParams extends FileDialogParams {
    /** Default "Undefined". */
    fileName?: string;
    allowOtherFileTypes?: boolean;
  }
  interface SaveFileResult extends Result {
    filePath?: string;
    fileUrl?: string;
    fileName?: string;
    fileNameWithoutExtension?: string;
    extension?: string;
  }
  interface RecentDocumentParams {
    /** A path. */
    url: string;
    mustWritable?: boolean;
  }

  interface CopyParams extends CallbackParams {
    src: string;
    dest: string;
  }
  interface PathParams extends CallbackParams {
    path: string;
  }
  interface CreateDirParams extends PathParams {
    atts?: { NSFilePosixPermissions?: number };
  }
  interface FindFileParams extends CallbackParams {
    /** Default: the bundle. */
    dir?: string;
    fileName: string;
  }
  interface FindFileResult extends Result {
    /** Relative paths whose names contain the text. */
    files?: string[];
  }
  interface FilePathParams extends CallbackParams {
    filePath: string;
  }
  interface FileInfoResult extends Result {
    result?: {
      fileSize: number;
      isReadable: boolean;
      isWritable: boolean;
      isExecutable: boolean;
      isDeletable: boolean;
    };
  }
  interface RevealParams extends CallbackParams {
    filePath: string | string[];
  }

  interface DragDropConfigParams {
    enableFile?: boolean;
    enableDir?: boolean;
    /** Extensions without dot; ["*"] takes everything. */
    fileTypes?: string[];
    callback?: CallbackName;
    enableCalculateFolderSize?: boolean;
  }
  /** What the drop callback receives. */
  interface DropResult extends Result {
    filesArray: FileRecord[];
    filesCount: number;
  }

  interface WatcherParams extends CallbackParams {
    path: string;
    /** The events, added up (default 127): 0x01 deleted, 0x02 written, 0x04 size increased, 0x08 attributes, 0x10 link count, 0x20 renamed, 0x40 revoked. */
    flags?: number;
  }
  /** What a change watcher's callback receives on every change. */
  interface ChangeEvent {
    path: string;
    flag:
      | "FileDeleted"
      | "FileWritten"
      | "FileSizeIncreased"
      | "FileAttributesChanged"
      | "LinkCountChanged"
      | "FileRenamed"
      | "AccessWasRevoked";
  }

  interface CaptureParams extends CallbackParams {
    filePath: string;
  }
  interface PrintParams extends CallbackParams {
    silent?: boolean;
    printBackground?: boolean;
  }

  interface SaveAppInfoParams extends CallbackParams {
    filePath: string;
    appInfo: Record<string, unknown> | unknown[];
  }
  interface AppInfoResult extends Result {
    result?: Record<string, unknown>;
  }
  interface DefaultsKeyParams extends CallbackParams {
    key: string;
  }
  interface SetDefaultsParams extends DefaultsKeyParams {
    value: unknown;
  }
  interface DefaultsResult extends Result {
    result?: unknown;
  }
  interface OtherAppInfoParams extends CallbackParams {
    /** A bundle, a desktop entry or a desktop-file id. */
    path: string;
  }
  interface OtherAppInfoResult extends Result {
    info?: {
      AppId?: string;
      AppName?: string;
      AppVersion?: string;
      AppBuildVersion?: string;
      AppCategoryType?: string;
      AppIconValue?: string;
      AppIconPath?: string;
      AppIcon2PngPath?: string;
    };
  }

  interface TaskParams extends CallbackParams {
    /** Must be true for anything to run. */
    useThread: boolean;
    /** The page function the task answers through, as often as it likes. */
    passBack?: CallbackName;
    arguments?: unknown;
    /** Empty: the plug-in's run operation. */
    callMethod?: string;
  }
  interface ExecTaskParams extends TaskParams {
    /** The plug-in bundle inside Contents, e.g. "/PlugIns/Sample.bundle". */
    taskToolPath: string;
    bundleClassName: string;
    packageMode?: "bundle";
  }
  interface BuiltInTaskParams extends TaskParams {
    /** A task class of the shell ("EchoTask") or of a plug-in loaded earlier. */
    className: string;
  }

  /** The page's window, dialogs, files, drops, watchers, printing, stores and tasks. */
  interface Window {
    /** @param json JSON text of {@link OpenWindowParams}. */
    open(json: string): void;
    /** @param json JSON text of {@link PointParams}. */
    move(json: string): void;
    getOrigin(): PointJson;
    /** @param json JSON text of {@link SizeParams}. */
    resize(json: string): void;
    toggleFullscreen(): void;
    restore(): void;
    getMinSize(): SizeJson;
    /** @param json JSON text of {@link SizeParams}. */
    setMinsize(json: string): void;
    getMaxSize(): SizeJson;
    /** @param json JSON text of {@link SizeParams}. */
    setMaxsize(json: string): void;
    getSize(): SizeJson;
    minimize(): void;
    maximize(): void;
    isMaximized(): boolean;
    /** Does nothing. */
    openColorSelectDialog_(json: string): void;
    /** Does nothing. */
    openFontSelectDialog_(json: string): void;
    /** @param json JSON text of {@link OpenFileParams}; the callback gets an {@link OpenFileResult}. */
    openFile(json: string): void;
    /** @param json JSON text of {@link SaveFileParams}; the callback gets a {@link SaveFileResult}. */
    saveFile(json: string): void;
    clearAllRecentDocuments(): void;
    /** @param json JSON text of {@link RecentDocumentParams}. */
    addRecentDocument(json: string): void;
    maxRecentDocumentCount(): number;
    /** @param json JSON text of {@link CopyParams}; the callback gets a {@link Result}. */
    copyFile(json: string): void;
    /** @param json JSON text of {@link CopyParams}. */
    copyDir(json: string): void;
    /** @param json JSON text of {@link CopyParams}. */
    moveFile(json: string): void;
    /** @param json JSON text of {@link CopyParams}. */
    moveDir(json: string): void;
    /** @param json JSON text of {@link PathParams}. */
    removeFile(json: string): boolean;
    /** @param json JSON text of {@link PathParams}. */
    removeDir(json: string): boolean;
    /** @param json JSON text of {@link CreateDirParams}. */
    createDir(json: string): boolean;
    /** @param json JSON text of {@link PathParams}. */
    createEmptyFile(json: string): boolean;
    /** @param json JSON text of {@link FindFileParams}; answers the JSON of a {@link FindFileResult}. */
    findFile(json: string): string;
    /** @param json JSON text of {@link FilePathParams}; the callback gets a {@link FileInfoResult}. */
    getFileInfo(json: string): void;
    /** @param json JSON text of {@link RevealParams}. */
    revealInFinder(json: string): void;
    /** @param json JSON text of {@link FilePathParams}. */
    preveiwFile(json: string): void;
    /** @param json JSON text of {@link FilePathParams}. */
    previewFile(json: string): void;
    /** @param json JSON text of {@link MenuPropertyParams}. */
    setMenuProperty(json: string): void;
    /** @param json JSON text of `{enableDir}`. */
    setDragDropAllowDirectory(json: string): void;
    /** @param json JSON text of `{enableFile}`. */
    setDragDropAllowFile(json: string): void;
    /** @param json JSON text of `{fileTypes}`. */
    setDragDropAllowFileTypes(json: string): void;
    /** @param json JSON text of `{callback}`; the callback gets a {@link DropResult} per drop. */
    setDragDropCallback(json: string): void;
    /** @param json JSON text of {@link DragDropConfigParams}. */
    setDragDropConfig(json: string): void;
    /** @param json JSON text of {@link WatcherParams}; the callback gets a {@link ChangeEvent} per change. */
    createDirChangeWatcher(json: string): boolean;
    /** @param json JSON text of {@link WatcherParams}; the callback gets a {@link ChangeEvent} per change. */
    createFileChangeWatcher(json: string): boolean;
    /** @param json JSON text of `{path}`. */
    removeFromChangeWatcher(json: string): boolean;
    /** @param json JSON text of {@link CaptureParams}. */
    capture(json: string): void;
    /** @param json JSON text of {@link PrintParams}. */
    print(json: string): void;
    /** @param json JSON text of {@link FilePathParams}; answers after the call returns. */
    printToPDF(json: string): void;
    /** @param json JSON text of {@link SaveAppInfoParams}. */
    saveAppInfoToLocal(json: string): void;
    /** @param json JSON text of {@link FilePathParams}; the callback gets an {@link AppInfoResult}. */
    getAppInfoFromLocal(json: string): void;
    /** @param json JSON text of {@link DefaultsKeyParams}; the callback gets a {@link DefaultsResult}. */
    getInfoFromUserDefaults(json: string): void;
    /** @param json JSON text of {@link SetDefaultsParams}. */
    setInfoToUserDefaults(json: string): void;
    /** @param json JSON text of {@link DefaultsKeyParams}. */
    removeItemFromUserDefaults(json: string): void;
    /** @param json JSON text of {@link OtherAppInfoParams}; answers the JSON of an {@link OtherAppInfoResult}. */
    getOtherAppInfo(json: string): string;
    availableFontsStrList(): string;
    availableFonts(): string[];
    dragDropJSCallback(): string;
    dragDropAllowFileTypes(): string[];
    allowDragDropDirectory(): boolean;
    allowDragDropFile(): boolean;
    allowDragDropCalculateFolderSize(): boolean;
    /** The last dialog's file types. */
    curSaveOpenTypes(): string[];
    customMenuActionIndex(): number;
    lastPluginBundlePath(): string;
    /** Every bundle path `execTask` used → the bundle's folder. */
    pluginBundlePath2BundelTaskDic(): Record<string, string>;
    /** @param json JSON text of {@link ExecTaskParams}. */
    execTask(json: string): void;
    /** @param json JSON text of {@link BuiltInTaskParams}. */
    execBuildInTask(json: string): void;
  }

  // ---- binaryFileWriter ---------------------------------------------------------

  interface WriteParams extends CallbackParams {
    filePath: string;
    /** The file is cut (or zero-extended) to this length first (default 0). */
    offset?: number;
    /** Append (default true) or replace. */
    dataAppend?: boolean;
  }
  interface WriteBinaryArrayParams extends WriteParams {
    /** Byte values, each taken modulo 256. */
    data: number[];
  }
  interface WriteTextParams extends WriteParams {
    text: string;
  }
  interface Base64ToFileParams extends CallbackParams {
    filePath: string;
    base64String: string;
  }
  interface WriteResult extends Result {
    filePath?: string;
    bytesWritten?: number;
    base64Code?: string;
  }
  type ImageType = "png" | "gif" | "tiff" | "tif" | "jpeg" | "jpg" | "bmp" | "pdf" | "eps";
  interface Base64ToImageParams extends Base64ToFileParams {
    imageType: ImageType;
  }
  interface ImageConvertParams extends CallbackParams {
    /** The target. */
    filePath: string;
    /** The source. */
    orgFilePath: string;
    imageType: ImageType;
  }
  interface ImageResult extends Result {
    filePath?: string;
  }
  interface GetTextParams extends CallbackParams {
    filePath: string;
    /** "utf8", "isolatin1", "windowscp1252", ... */
    encode?: string;
    NSStringEncoding?: number;
    /** Default true: read on a worker thread and answer through the callback. */
    async?: boolean;
  }
  interface TextResult extends Result {
    content?: string;
  }

  /** Writes files from the page's data, converts images, reads text. */
  interface BinaryFileWriter {
    /** @param json JSON text of {@link WriteBinaryArrayParams}; the callback gets a {@link WriteResult}. */
    writeBinaryArray(json: string): void;
    /** @param json JSON text of {@link Base64ToFileParams}; the callback gets a {@link WriteResult}. */
    base64ToFile(json: string): void;
    /** @param json JSON text of {@link WriteTextParams}; the callback gets a {@link WriteResult}. */
    writeTextToFile(json: string): void;
    /** @param json JSON text of {@link Base64ToImageParams}; the callback gets an {@link ImageResult}. */
    base64ToImageFile(json: string): void;
    /** @param json JSON text of {@link ImageConvertParams}; the callback gets an {@link ImageResult}. */
    imageFileConvertToOthers(json: string): void;
    /** @param json JSON text of {@link GetTextParams}; with `async: false` answers the text, else "" and the callback gets a {@link TextResult}. */
    getTextFromFile(json: string): string;
    /** Cuts or extends the file; answers its new length. */
    truncateFile_atPosition_(path: string, length: number): number;
    writeBinaryToFile_withArrayData_append_withCallback_(
      path: string,
      data: number[],
      append: boolean,
      callback: CallbackName,
    ): void;
    conveteBase64StirngToFile_withBase64String_append_withCallback_(
      path: string,
      base64: string,
      append: boolean,
      callback: CallbackName,
    ): void;
    writeTextToFile_withTextData_append_withCallback_(
      path: string,
      text: string,
      append: boolean,
      callback: CallbackName,
    ): void;
    Base64StringToImageFile_withTargetImageType_withTargetPath_(
      base64: string,
      imageType: ImageType,
      targetPath: string,
    ): boolean;
    ImageConvertToImageFile_withTargetImageType_withTargetPath_(
      sourcePath: string,
      imageType: ImageType,
      targetPath: string,
    ): boolean;
    showErrorAlert_additionalInfo_(message: string, info: string): void;
  }

  // ---- sound, dock, notifications, fonts, clipboard ----------------------------------

  interface Sound {
    /** A file relative to Contents/Resources. */
    play(path: string): void;
    /** A sound of the desktop's theme ("bell", "complete", ...). */
    playSystem(name: string): void;
    /** `done(null)` when the file has played to its end. */
    playWithCB(path: string, done: ((name: null) => void) | null): void;
    /** `done(name)` when the sound has played to its end. */
    playSystemWithCB(name: string, done: ((name: string) => void) | null): void;
    /** One entry per function still to be called: the sound's name, null for a file. */
    pending(): (string | null)[];
  }

  interface Dock {
    setBadge(text: string): void;
    /** The text last set, or null. A property: `badge()` throws. */
    readonly badge: string | null;
  }

  interface NotifyParams {
    title?: string;
    content?: string;
  }
  interface AlertParams {
    title?: string;
    message?: string;
    /** 1 to 4 titles; the first three are shown. */
    buttons: string[];
    alertType?: "Alert" | "Information" | "Critical";
  }

  interface Growl {
    /** @param json JSON text of {@link NotifyParams}. */
    notify(json: string): void;
  }

  interface Notice {
    /** @param json JSON text of {@link NotifyParams}; answers "" when shown, else the service's error. */
    notify(json: string): string;
    /** @param json JSON text of {@link AlertParams}; answers 1 (first button), 0 (second) or 2^64−1. */
    alert(json: string): number;
  }

  /** `[PostScript name, style name, weight (0–15), traits]`. */
  type FontMember = [string, string, number, number];

  interface Fonts {
    availableFonts(): string[];
    availableFontFamilies(): string[];
    availableMembersOfFontFamily(family: string): FontMember[];
    /** Points; 0 for an unknown font. */
    defaultLineHeightForFont(name: string, size: number): number;
  }

  interface Clipboard {
    copy(text: string): void;
    paste(): string;
  }

  // ---- menus ----------------------------------------------------------------------

  /** A menu: the bar (`corvane.menu`) or a drop-down menu. */
  interface MenuProxy {
    /** `index` 0 appends; `key` such as "cmd+shift+s". */
    addItem(
      title: string | null | undefined,
      key: string,
      chosen: ((title: string) => void) | null,
      index: number,
    ): MenuItemProxy;
    addSeparator(): MenuItemProxy;
    /** By position or title. */
    getItem(key: number | string): MenuItemProxy | null;
    /** Answers this menu, or null when nothing matched. */
    removeMenu(key: number | string): MenuProxy | null;
  }

  /** One entry of a menu. */
  interface MenuItemProxy {
    addSubmenu(): MenuProxy | null;
    remove(): void;
    setCallback(chosen: ((title: string) => void) | null): void;
    setKey(key: string): void;
    setTitle(title: string): void;
    submenu(): MenuProxy | null;
    enable(): void;
    disable(): void;
  }

  /** Item name ("WebMenuItemTagReload", ...) → shown. */
  type WebMenuItemSwitches = Record<string, boolean>;

  /** The page's right-click menu. */
  interface WebMenuItemSettings {
    /** @param json JSON text of {@link WebMenuItemSwitches}. */
    setWebMenuItemsSettings(json: string): void;
    /** `{"tag1": false, ...}`. */
    getWebMenuItemsSettings(): Record<string, boolean>;
    isEnableWithMenutItemsTag_(tag: number): boolean;
  }

  // ---- iap ----------------------------------------------------------------------------

  interface RegisterCallbackParams {
    /** The page function that receives every store notification ("" stops them). */
    callback?: CallbackName;
  }
  interface RegisterHelperParams extends CallbackParams {
    /** The helper bundle from the package's Contents folder: "/PlugIns/Store.bundle". */
    path: string;
    /** Seconds the shell waits for each answer (default 30, at most 600). */
    timeout?: number;
  }
  interface RegisterHelperResult extends Result {
    name?: string;
    canMakePayments?: boolean;
  }
  /** Parameters go to the helper as they are: a helper may read more. */
  interface StoreParams extends CallbackParams {
    [key: string]: unknown;
  }
  interface ProductParams extends StoreParams {
    productId: string;
  }
  interface RequestProductsParams extends StoreParams {
    /** Absent: every product the helper has. */
    productIds?: string[];
  }
  interface BuyParams extends ProductParams {
    quantity?: number;
  }
  interface UseProductParams extends ProductParams {
    count?: number;
  }
  /** A product as the helper describes it. */
  interface Product {
    productId: string;
    title: string;
    description?: string;
    /** A decimal text: "0.99". */
    price: string;
    currency: string;
    formattedPrice: string;
    [key: string]: unknown;
  }
  interface ProductsResult extends Result {
    products?: Product[];
    invalidProductIds?: string[];
  }
  interface PriceResult extends Result {
    productId?: string;
    price?: string;
    currency?: string;
    formattedPrice?: string;
  }
  interface UseCountResult extends Result {
    productId?: string;
    useCount?: number;
  }
  /** Whatever else the helper answers. */
  interface StoreResult extends Result {
    [key: string]: unknown;
  }
  /** A store notification: "purchasing", "purchased", "failed", "restored", "restoreCompleted", ... */
  interface StoreNotice {
    type: string;
    productId?: string;
    transactionId?: string;
    [key: string]: unknown;
  }

  /** In-app purchases through a purchase helper bundle; every request answers through its callback. */
  interface IAP {
    /** @param json JSON text of {@link RegisterCallbackParams}; answers the JSON text of a {@link Result}. */
    registerCallback(json: string): string;
    /** @param json JSON text of {@link RegisterHelperParams}; the callback gets a {@link RegisterHelperResult}. */
    registerHelper(json: string): void;
    /** What the helper said last; false without one. */
    canMakePayments(): boolean;
    /** @param json JSON text of {@link StoreParams}; the callback gets a {@link StoreResult}. */
    startService(json: string): void;
    /** @param json JSON text of {@link RequestProductsParams}; the callback gets a {@link ProductsResult}. */
    requestProducts(json: string): void;
    /** @param json JSON text of {@link BuyParams}; the callback gets a {@link StoreResult}; the outcome is notified. */
    buy(json: string): void;
    /** @param json JSON text of {@link StoreParams}; each restored purchase is notified. */
    restore(json: string): void;
    /** @param json JSON text of {@link ProductParams}; the callback gets a {@link PriceResult}. */
    getPrice(json: string): void;
    /** @param json JSON text of {@link ProductParams}; the callback gets a {@link UseCountResult}. */
    getUseCount(json: string): void;
    /** @param json JSON text of {@link UseProductParams}; the callback gets a {@link UseCountResult}. */
    useProduct(json: string): void;
  }

  // ---- tray ---------------------------------------------------------------------------

  /** What the tray's callback receives. */
  type TrayEvent =
    | { type: "activate" | "secondaryActivate" | "contextMenu"; x: number; y: number }
    | { type: "scroll"; delta: number; orientation: "vertical" | "horizontal" }
    | { type: "menu"; title: string };

  /** An icon in the desktop's status area, with a menu. */
  interface Tray {
    /** True while the desktop shows tray icons. */
    isAvailable(): boolean;
    isShown(): boolean;
    show(): void;
    hide(): void;
    /** A file of the application or a theme icon name; false when the file is not usable. */
    setIcon(icon: string): boolean;
    setAttentionIcon(icon: string): boolean;
    setTitle(title: string): void;
    setToolTip(text: string): void;
    setAttention(attention: boolean): void;
    /** The tray's menu, built like the menu bar's menus. */
    menu(): MenuProxy;
    /** A function, or the name of a page function; anything else stops the events. */
    setCallback(callback: ((event: TrayEvent) => void) | CallbackName | null): void;
  }

  // ---- page events -------------------------------------------------------------------

  /** "appActivated": the active application changed. */
  interface AppActivatedEvent extends Event {
    readonly data: {
      localizedName: string;
      /** file:// URL of the bundle, or of the other program's executable. */
      bundleURL: string;
    };
  }
}

/** The Corvane bridge. */
declare var corvane: Corvane.Bridge;
/** The same object as `corvane`. */
declare var quorlix: Corvane.Bridge;
/** The same object as `corvane`. */
declare var ZVRLabJs: Corvane.Bridge;

interface DocumentEventMap {
  /** The computer is about to sleep. */
  sleep: Event;
  /** The computer woke up. */
  wake: Event;
  appActivated: Corvane.AppActivatedEvent;
  /** The main window was resized. */
  orientationchange: Event;
}
