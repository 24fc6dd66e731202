#pragma once
// Task classes known to the process by name: the shell's own built-in
// classes, registered here, and after them every class of a plug-in bundle
// loaded so far. Built-in tasks do their work on the background pool.
#include "corvane/plugin.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace corvane {

class BuiltInTaskRegistry {
 public:
  // The process's registry, holding the shell's own classes.
  static BuiltInTaskRegistry& shared();

  // Registers `cls` under its name; a later class of the same name wins.
  void registerClass(const corvane_task_class* cls);
  // The registered class of that name, else the class of that name in the
  // first loaded bundle that has one; nullptr for none.
  const corvane_task_class* classNamed(const std::string& name) const;

  // Runs `job` on the process's background pool (several jobs at once).
  static void runInBackground(std::function<void()> job);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, const corvane_task_class*> classes_;
};

// The shell's own task classes.
// "EchoTask": every method passes its name and arguments back to the page
// function named by the pass-back (through the delegate), with the thread
// it ran on ({"method", "arguments", "mainThread"}).
const corvane_task_class* echoTaskClass();

}  // namespace corvane
