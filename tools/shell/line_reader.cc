// The stream reader, and the terminal reader over the BSD line-editing
// library (histedit.h) when the build found it (ZEPHRO_HAVE_LIBEDIT).
//
// The library is loaded when the first line is edited, not when the shell
// starts: a shell that only runs files never maps it nor the terminal
// libraries it pulls in (a third of a MiB of resident memory). When it cannot
// be loaded, the terminal reader reads plain lines. A static shell has it
// linked in instead (edit_library.h).
//
// Interrupt key at the terminal: while a line is being edited the reader
// catches SIGINT itself, so the key drops the line typed so far instead of
// ending the shell; the library puts the terminal back in its normal mode
// before the handler runs. Outside reading, SIGINT keeps its default action.

#include "line_reader.h"

#include <iostream>
#include <istream>
#include <ostream>

#ifdef ZEPHRO_HAVE_LIBEDIT
#include <dlfcn.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "edit_library.h"
#endif

namespace zephro::shell {

namespace {

class StreamReader final : public LineReader {
 public:
  StreamReader(std::istream& in, std::ostream* prompts) : in_(in), prompts_(prompts) {}

  Result ReadLine(const std::string& prompt, std::string& line) override {
    if (prompts_ != nullptr) {
      *prompts_ << prompt << std::flush;
    }
    line.clear();
    return std::getline(in_, line) ? Result::kLine : Result::kEnd;
  }

 private:
  std::istream& in_;       // not owned
  std::ostream* prompts_;  // not owned; null for no prompts
};

#ifdef ZEPHRO_HAVE_LIBEDIT

volatile std::sig_atomic_t interrupted = 0;

extern "C" void NoteInterrupt(int) {
  interrupted = 1;
}

constexpr int kHistorySize = 1000;

// Offered by a shell that links the library in (edit_library_linked.cc),
// before main runs; null in one that loads it.
const EditLibrary* linked_library = nullptr;

// The library: the linked one, else loaded on the first call (and kept for
// the life of the process); null when it is missing or lacks an entry point.
class EditLibraryLoader {
 public:
  static const EditLibrary* Get() {
    static const EditLibrary* const loaded = linked_library != nullptr ? linked_library : Load();
    return loaded;
  }

 private:
  static const EditLibrary* Load() {
    static EditLibrary library;
    for (const char* name : {"libedit.so.2", "libedit.so"}) {
      void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (handle == nullptr) {
        continue;
      }
      if (Bind(handle, library)) {
        return &library;
      }
      dlclose(handle);
    }
    return nullptr;
  }

  template <class F>
  static bool Find(void* handle, const char* name, F& entry) {
    entry = reinterpret_cast<F>(dlsym(handle, name));
    return entry != nullptr;
  }

  static bool Bind(void* handle, EditLibrary& library) {
    return Find(handle, "el_init", library.el_init) && Find(handle, "el_end", library.el_end) &&
           Find(handle, "el_gets", library.el_gets) && Find(handle, "el_reset", library.el_reset) &&
           Find(handle, "el_set", library.el_set) && Find(handle, "el_get", library.el_get) &&
           Find(handle, "el_source", library.el_source) &&
           Find(handle, "history_init", library.history_init) &&
           Find(handle, "history_end", library.history_end) &&
           Find(handle, "history", library.history);
  }
};

// Sets the editor up on its first read, so that a shell that only runs
// files never touches the terminal or the history file; falls back to plain
// lines when the library cannot work with the terminal.
class EditLineReader final : public LineReader {
 public:
  EditLineReader() = default;

  ~EditLineReader() override {
    if (editor_ != nullptr) {
      lib_->el_end(editor_);
    }
    if (history_ != nullptr) {
      HistEvent event;
      if (added_ && !history_file_.empty()) {
        lib_->history(history_, &event, H_SAVE, history_file_.c_str());
      }
      lib_->history_end(history_);
    }
  }

  EditLineReader(const EditLineReader&) = delete;
  EditLineReader& operator=(const EditLineReader&) = delete;

  Result ReadLine(const std::string& prompt, std::string& line) override {
    if (!Open()) {
      return plain_.ReadLine(prompt, line);
    }
    prompt_ = prompt;
    line.clear();
    std::cout.flush();
    struct sigaction catcher = {};
    catcher.sa_handler = NoteInterrupt;
    sigemptyset(&catcher.sa_mask);
    catcher.sa_flags = 0;  // no SA_RESTART: the key must end the read
    struct sigaction previous = {};
    sigaction(SIGINT, &catcher, &previous);
    interrupted = 0;
    int count = 0;
    const char* text = lib_->el_gets(editor_, &count);
    const bool was_interrupted = interrupted != 0;
    sigaction(SIGINT, &previous, nullptr);
    if (was_interrupted) {
      lib_->el_reset(editor_);
      std::fputs("\n", stdout);
      return Result::kInterrupted;
    }
    if (text == nullptr || count <= 0) {
      return Result::kEnd;
    }
    line.assign(text, static_cast<std::size_t>(count));
    if (!line.empty() && line.back() == '\n') {
      line.pop_back();
    }
    return Result::kLine;
  }

  void AddHistory(const std::string& entry) override {
    if (history_ == nullptr || entry.find_first_not_of(" \t\n") == std::string::npos) {
      return;
    }
    HistEvent event;
    lib_->history(history_, &event, H_ENTER, entry.c_str());
    added_ = true;
  }

 private:
  // True when the editor is (now) set up.
  bool Open() {
    if (opened_) {
      return editor_ != nullptr;
    }
    opened_ = true;
    lib_ = EditLibraryLoader::Get();
    if (lib_ == nullptr) {
      return false;
    }
    history_ = lib_->history_init();
    editor_ = history_ != nullptr ? lib_->el_init("zephro", stdin, stdout, stderr) : nullptr;
    if (editor_ == nullptr) {
      return false;
    }
    HistEvent event;
    lib_->history(history_, &event, H_SETSIZE, kHistorySize);
    lib_->history(history_, &event, H_SETUNIQUE, 1);
    lib_->el_set(editor_, EL_CLIENTDATA, this);
    lib_->el_set(editor_, EL_PROMPT, &EditLineReader::PromptOf);
    lib_->el_set(editor_, EL_EDITOR, "emacs");
    lib_->el_set(editor_, EL_SIGNAL, 1);
    lib_->el_set(editor_, EL_HIST, lib_->history, history_);
    lib_->el_source(editor_, nullptr);  // the user's ~/.editrc, if any
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
      history_file_ = std::string(home) + "/.zephro_history";
      lib_->history(history_, &event, H_LOAD, history_file_.c_str());
    }
    return true;
  }

 private:
  static char* PromptOf(EditLine* editor) {
    void* data = nullptr;
    EditLibraryLoader::Get()->el_get(editor, EL_CLIENTDATA, &data);
    return static_cast<EditLineReader*>(data)->prompt_.data();
  }

  StreamReader plain_{std::cin, &std::cout};
  const EditLibrary* lib_ = nullptr;  // set by Open
  bool opened_ = false;
  bool added_ = false;  // something entered: the history file is worth saving
  EditLine* editor_ = nullptr;
  History* history_ = nullptr;
  std::string prompt_;
  std::string history_file_;
};

#endif  // ZEPHRO_HAVE_LIBEDIT

}  // namespace

#ifdef ZEPHRO_HAVE_LIBEDIT
void UseLinkedEditLibrary(const EditLibrary& library) noexcept {
  linked_library = &library;
}
#endif

std::unique_ptr<LineReader> MakeStreamReader(std::istream& in, std::ostream* prompts) {
  return std::make_unique<StreamReader>(in, prompts);
}

std::unique_ptr<LineReader> MakeTerminalReader() {
#ifdef ZEPHRO_HAVE_LIBEDIT
  return std::make_unique<EditLineReader>();
#else
  return MakeStreamReader(std::cin, &std::cout);
#endif
}

bool HasLineEditing() noexcept {
#ifdef ZEPHRO_HAVE_LIBEDIT
  return true;
#else
  return false;
#endif
}

bool LineEditingLoads() {
#ifdef ZEPHRO_HAVE_LIBEDIT
  return EditLibraryLoader::Get() != nullptr;
#else
  return false;
#endif
}

}  // namespace zephro::shell
