#pragma once
// File-system work behind the Window object's file operations, on GIO.
// Platform-free (no display), so tests drive it directly.
//
// Copies never follow a symbolic link: a link is copied as a link, so a
// copy of a tree never reaches outside it. A move is a rename where the
// file system allows; otherwise the whole tree is copied and the source is
// removed only after every item arrived, so a failure midway leaves the
// source as it was (and removes the partial copy).
#include <functional>
#include <string>
#include <vector>

namespace corvane::fileops {

// Why a copy or a move failed: the errno that stands for the cause
// (EEXIST: the destination exists; ENOENT: the source, or the destination's
// folder, is missing; ENOSPC, EROFS, ENAMETOOLONG, EACCES, ...) and a
// sentence for the page ("cannot copy A to B: the disk is read-only").
struct Failure {
  int code = 0;
  std::string text;
};

// Copies the item at `src` (recursively for a folder) to `dest`, which must
// not exist. On failure the partial copy is removed.
bool copyItem(const std::string& src, const std::string& dest, Failure* failure = nullptr);

// Moves the item. `forceCopy` skips the rename (the cross-file-system path,
// for tests on one file system). A move by copying first makes sure the
// source can be removed afterwards; when removing it still fails, the copy
// goes again if the source is whole (a file), and stays if part of the
// source is already gone (then it is the only whole copy).
bool moveItem(const std::string& src, const std::string& dest, Failure* failure = nullptr,
              bool forceCopy = false);

// Every item below `dir` (not following links to folders) as a path
// relative to it, in listing order, whose relative path contains `needle`.
std::vector<std::string> findFiles(const std::string& dir, const std::string& needle);

// Runs `work` on a worker thread while the calling (main) thread keeps
// iterating its main context, as a modal dialog does, so windows keep
// drawing; returns once the work is done. Off the main context's owner
// thread the work simply runs inline.
void runWhileDrawing(const std::function<void()>& work);

}  // namespace corvane::fileops
