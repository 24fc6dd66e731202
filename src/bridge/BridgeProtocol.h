#pragma once
// Names and frame layouts shared by the UI process and the web-process
// extension. Nothing here may pull in UI or WebKit UI-process headers: the
// extension includes this file too.
#include <cstdint>

namespace corvane::bridge {

// User message the extension sends to its web view when a page is created.
// It carries two socket ends in its file-descriptor list:
//   [0] the peer-to-peer D-Bus connection (control and asynchronous traffic)
//   [1] the framed channel for synchronous calls from page scripts
inline constexpr const char* kConnectMessage = "corvane.bridge.connect";

// D-Bus names on the private connection (no bus daemon is involved).
inline constexpr const char* kPageObjectPath = "/org/corvane/Bridge/Page";
inline constexpr const char* kPageInterface = "org.corvane.Bridge.Page";
inline constexpr const char* kHostObjectPath = "/org/corvane/Bridge/Host";
inline constexpr const char* kHostInterface = "org.corvane.Bridge.Host";

// Page interface (UI process -> extension), all fire-and-forget:
//   Evaluate(ay script)               run in the main frame (UTF-8 bytes)
//   CallFunction(t handle, s argsJson) call a stored page function
//   ReleaseFunctions(at handles)       the native side dropped them
inline constexpr const char* kEvaluate = "Evaluate";
inline constexpr const char* kCallFunction = "CallFunction";
inline constexpr const char* kReleaseFunctions = "ReleaseFunctions";
// Host interface (extension -> UI process), fire-and-forget:
//   Log(s text)                       one log line for the shared logger
//   Console(s level, s source, s url, u line, s text)
//                                     a line of the page's console, or an
//                                     error a script the bridge ran did not
//                                     catch (source "exception": `text` is
//                                     the engine's whole report)
inline constexpr const char* kLog = "Log";
inline constexpr const char* kConsole = "Console";

// Frames of the synchronous channel. Every frame starts with this header;
// `size` counts the payload bytes that follow.
struct FrameHeader {
  uint32_t size;
  uint32_t kind;
};

enum FrameKind : uint32_t {
  // extension -> UI, each answered by exactly one kReply
  kHello = 1,     // payload: frame URI of the first window-object clear
  // Calls and field reads name the class the page took the method or field
  // from; the UI process serves them only when the object is of that class.
  kCall = 2,      // payload: u32 object, u32 class, u32 method, JSON array of arguments
  kGetField = 3,  // payload: u32 object, u32 class, field name
  // UI -> extension
  kReply = 0x80,  // payload: see ReplyWriter/ReplyReader
};

// An error text of a reply that starts with this is thrown in the page as a
// TypeError (with the rest as its message); any other as an Error.
inline constexpr const char* kTypeErrorPrefix = "TypeError: ";

// Markers inside argument and result JSON for values that are not data.
inline constexpr const char* kFunctionMarker = "$corvaneFunction";  // {"$corvaneFunction": id}
inline constexpr const char* kObjectMarker = "$corvaneObject";      // {"$corvaneObject": id, "$class": n}
inline constexpr const char* kClassMarker = "$class";
inline constexpr const char* kUndefinedMarker = "$corvaneUndefined";  // {"$corvaneUndefined": true}

}  // namespace corvane::bridge
