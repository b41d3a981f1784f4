#include "script/filecmds.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "platform/paths.h"
#include "script/atoms.h"
#include "script/functions.h"
#include "script/script.h"
#include "script/scriptmsg.h"
#include "script/scriptname.h"
#include "script/value.h"
#include "script/var.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t BUFFER_SIZE = 64 * 1024;
constexpr unsigned char CTRL_Z = 0x1A;

// Names compared without regard to ASCII case; trail bytes of double-byte
// characters compare exactly.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (jcode::IsKanji1(x) && i + 1 < a.size()) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Whether Shift_JIS bytes survive a trip through UTF-8 unchanged (no byte
// outside the code, no lone lead byte).
bool IsSjis(std::string_view s) {
  bool plain = true;
  for (unsigned char c : s)
    if (c >= 0x80) plain = false;
  if (plain) return true;
  return jcode::Utf8ToSjis(jcode::SjisToUtf8(s)) == s;
}

// A UTF-8 path in Shift_JIS, or nothing when Shift_JIS cannot hold it.
std::optional<std::string> ToSjis(const std::string& utf8) {
  std::string s = jcode::Utf8ToSjis(utf8);
  if (jcode::SjisToUtf8(s) != utf8) return std::nullopt;
  return s;
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// One file a script opened.
struct OPENFILE {
  std::string name;  // the text that opened it (Shift_JIS)
  std::string path;
  int fd = -1;
  bool writing = false;
  // Reading: the bytes read ahead and where the next line starts.
  std::vector<char> in;
  size_t head = 0, tail = 0;
  bool ended = false;  // end of the file or a Ctrl-Z
  // Writing: the bytes not yet written.
  std::string out;
  bool failed = false;  // a write failed; reported at the next command on it

  ~OPENFILE() {
    if (fd >= 0) ::close(fd);
  }
  bool Flush() {
    if (out.empty()) return !failed;
    if (!WriteAll(fd, out.data(), out.size())) failed = true;
    out.clear();
    return !failed;
  }
  // More bytes at the end of the buffer; false at the end of the file.
  bool Fill() {
    if (ended) return false;
    if (head > 0 && head == tail) head = tail = 0;
    if (in.size() - tail < BUFFER_SIZE / 2) {
      if (head > 0) {
        std::memmove(in.data(), in.data() + head, tail - head);
        tail -= head;
        head = 0;
      }
      if (in.size() - tail < BUFFER_SIZE / 2) in.resize(in.size() + BUFFER_SIZE);
    }
    for (;;) {
      const ssize_t r = ::read(fd, in.data() + tail, in.size() - tail);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        if (r < 0) failed = true;
        ended = true;
        return false;
      }
      tail += static_cast<size_t>(r);
      return true;
    }
  }
  // The next line into line: up to LF, CR bytes dropped, a Ctrl-Z ends the
  // file; at most MAX_LINE bytes, cut on a whole character (the rest is the
  // next line).  False at the end of the file.
  bool ReadLine(std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
      if (head == tail && !Fill()) return any;
      const char* p = in.data() + head;
      const size_t n = tail - head;
      const char* lf = static_cast<const char*>(std::memchr(p, '\n', n));
      size_t seg = lf ? static_cast<size_t>(lf - p) : n;
      const char* z = static_cast<const char*>(std::memchr(p, CTRL_Z, seg));
      if (z) {
        seg = static_cast<size_t>(z - p);
        lf = nullptr;
      }
      if (seg > 0 || lf) any = true;
      if (line.size() + seg <= SCRIPTFILE::MAX_LINE && !std::memchr(p, '\r', seg)) {
        line.append(p, seg);
        head += seg;
      } else {
        bool trailNext = EndsOnLead(line);
        size_t i = 0;
        for (; i < seg; ++i) {
          const unsigned char c = static_cast<unsigned char>(p[i]);
          if (c == '\r') continue;
          if (trailNext) {
            trailNext = false;
          } else {
            const size_t need = jcode::IsKanji1(c) ? 2 : 1;
            if (line.size() + need > SCRIPTFILE::MAX_LINE) break;
            trailNext = need == 2;
          }
          line.push_back(static_cast<char>(c));
        }
        head += i;
        if (i < seg) return true;  // full: the rest is the next line
      }
      if (z) {
        // Nothing after a Ctrl-Z is read.
        head = tail;
        ended = true;
        return any;
      }
      if (lf) {
        ++head;
        return true;
      }
    }
  }
  // Whether the text ends on a lead byte whose trail byte is still to come.
  static bool EndsOnLead(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) i += jcode::IsKanji1(static_cast<unsigned char>(s[i])) ? 2 : 1;
    return i > s.size();
  }
};

struct RUNSTATE {
  std::vector<std::unique_ptr<OPENFILE>> files;
  std::string dir;  // empty: the process's directory
  std::optional<std::string> saved;
  std::string lastFailure;
};
RUNSTATE run;

OPENFILE* FindOpen(std::string_view name) {
  for (auto& f : run.files)
    if (SameName(f->name, name)) return f.get();
  return nullptr;
}

bool CloseOpen(std::string_view name) {
  for (auto it = run.files.begin(); it != run.files.end(); ++it) {
    if (!SameName((*it)->name, name)) continue;
    bool ok = true;
    if ((*it)->writing) ok = (*it)->Flush();
    if (::close((*it)->fd) != 0) ok = false;
    (*it)->fd = -1;
    run.files.erase(it);
    return ok;
  }
  return true;
}

void FlushWriters() {
  for (auto& f : run.files)
    if (f->writing) f->Flush();
}

std::string ProcessDir() {
  std::error_code ec;
  fs::path p = fs::current_path(ec);
  return ec ? std::string("/") : p.string();
}

// A temporary file beside `target`, open for writing; its path in tmp.
int TempBeside(const std::string& target, std::string& tmp) {
  const fs::path t(target);
  tmp = (t.parent_path() / (".QN" + t.filename().string() + ".XXXXXX")).string();
  std::vector<char> buf(tmp.begin(), tmp.end());
  buf.push_back('\0');
  const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
  tmp = buf.data();
  return fd;
}

// Copies the whole of fd `from` into fd `to`; false with errno set.
bool CopyData(int from, int to) {
  std::vector<char> block(256 * 1024);
  for (;;) {
    const ssize_t r = ::read(from, block.data(), block.size());
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) return true;
    if (!WriteAll(to, block.data(), static_cast<size_t>(r))) return false;
  }
}

// The file at `from` copied into a new temporary file beside `to`; its path
// in tmp.  The copy keeps the source's permission bits.
bool CopyToTemp(const std::string& from, const std::string& to, std::string& tmp, std::string& why) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    why = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "not a regular file";
    ::close(in);
    return false;
  }
  const int out = TempBeside(to, tmp);
  if (out < 0) {
    why = std::strerror(errno);
    ::close(in);
    return false;
  }
  bool ok = CopyData(in, out);
  if (!ok) why = std::strerror(errno);
  if (ok && ::fchmod(out, st.st_mode & 07777) != 0) {
    ok = false;
    why = std::strerror(errno);
  }
  if (::close(out) != 0 && ok) {
    ok = false;
    why = std::strerror(errno);
  }
  ::close(in);
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace

// The statement's arguments and its level, for the handlers below.
class SCRIPTFILE::ARGS {
 public:
  explicit ARGS(uint8_t keyword) : keyword_(keyword) {}

  SCRIPTPOS& L() const { return SCRIPTFILE::Level(); }
  uint8_t Peek() const {
    const std::vector<uint8_t>& c = L().program->code.Code();
    return L().pos < c.size() ? c[L().pos] : 0;
  }
  bool AtEnd() const { return Peek() == atom::LINENO || Peek() == 0; }
  bool Fail() const {
    SCRIPTFILE::ParameterError(keyword_);
    return false;
  }
  const EVALCONTEXT& Context() const { return SCRIPT::EvalContext(); }
  // An expression's text.
  bool Text(std::string& out) {
    if (AtEnd()) return Fail();
    EVALUATOR e(Context(), L().pos);
    if (!e.GetValue(value_)) {
      SCRIPTFILE::ExpressionError(e.errorId, e.errorKeyword);
      return false;
    }
    L().pos = e.Position();
    out = value_.Text();
    return true;
  }
  // A string variable's stored name.
  bool Variable(std::string& name) {
    const std::vector<uint8_t>& c = L().program->code.Code();
    ATOMITERATOR it(c.data(), c.size(), L().pos);
    ATOMREF a;
    if (!it.Next(a) || a.atom != atom::VARIABLE) return Fail();
    EVALUATOR e(Context(), a.Next());
    if (!e.GetDim(a.Text(), name)) {
      SCRIPTFILE::RuntimeError(e.errorId);
      return false;
    }
    if (VAR::IsNumeric(name)) return Fail();
    L().pos = e.Position();
    return true;
  }
  bool Comma() {
    if (Peek() != atom::COMMA) return Fail();
    ++L().pos;
    return true;
  }
  bool End() const { return AtEnd() ? true : Fail(); }

 private:
  uint8_t keyword_;
  SCRIPTVALUE value_;
};

SCRIPTPOS& SCRIPTFILE::Level() { return SCRIPT::levels_.back(); }
void SCRIPTFILE::ParameterError(uint8_t keyword) { SCRIPT::ParameterError(keyword); }
void SCRIPTFILE::RuntimeError(int id) { SCRIPT::RuntimeError(id); }
void SCRIPTFILE::ExpressionError(int id, const std::string& keyword) { SCRIPT::ExpressionError(id, keyword); }

bool SCRIPTFILE::Failed(uint8_t keyword, const std::string& path, const std::string& why) {
  run.lastFailure = std::string(atom::Name(keyword)) + " " + path + ": " + why;
  DebugLogF("script: %s\n", run.lastFailure.c_str());
  Level().result = 0;
  return true;
}

bool SCRIPTFILE::SetText(const std::string& name, const std::string& value) {
  if (!VAR::SetVar(name, value)) {
    RuntimeError(scriptmsg::VARIABLE_MEMORY);
    return false;
  }
  return true;
}

bool SCRIPTFILE::Handles(uint8_t a) {
  switch (a) {
    case atom::OPENFILE:
    case atom::APPENDFILE:
    case atom::CREATEFILE:
    case atom::CREATETEMPFILE:
    case atom::WRITEFILE:
    case atom::READFILE:
    case atom::CLOSEFILE:
    case atom::DELFILE:
    case atom::CREATEDIR:
    case atom::COPYFILE:
    case atom::RENAMEFILE:
    case atom::CHDIR:
    case atom::RESTOREDIR:
    case atom::GETCURRENTDIR:
    case atom::GETQUILLNETDIR:
    case atom::GETWINDIR:
    case atom::GETWINSYSDIR: return true;
    default: return false;
  }
}

std::optional<std::string> SCRIPTFILE::Resolve(std::string_view sjis, bool existing) {
  if (sjis.empty() || !IsSjis(sjis)) return std::nullopt;
  std::string p = ScriptNameToPath(sjis);
  if (p.empty()) return std::nullopt;
  fs::path path(p);
  if (path.is_relative()) path = fs::path(CurrentDir()) / path;
  path = path.lexically_normal();
  if (existing) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) {
      const fs::path dir = path.parent_path();
      const std::string want = Lower(path.filename().string());
      for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (Lower(it->path().filename().string()) == want) {
          path = dir / it->path().filename();
          break;
        }
      }
    }
  }
  std::string s = path.string();
  if (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string SCRIPTFILE::CurrentDir() { return run.dir.empty() ? ProcessDir() : run.dir; }

int SCRIPTFILE::OpenCount() { return static_cast<int>(run.files.size()); }

const std::string& SCRIPTFILE::LastFailure() { return run.lastFailure; }

void SCRIPTFILE::EndRun() {
  for (auto& f : run.files) {
    if (f->writing && !f->Flush())
      DebugLogF("script: %s: writing failed when the run ended\n", f->path.c_str());
  }
  run.files.clear();
  run.dir.clear();
  run.saved.reset();
}

// DELFILE with "*" or "?" in the last part: every regular file of that
// directory whose name matches (ASCII case ignored).  None matching is a
// failure, and so is any one that cannot be deleted (the others still go).
bool SCRIPTFILE::DeleteMatching(const std::string& pattern) {
  const fs::path p(pattern);
  const fs::path dir = p.parent_path();
  const std::string want = jcode::Utf8ToSjis(p.filename().string());
  std::vector<std::string> victims;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::string sjis = jcode::Utf8ToSjis(name);
    if (jcode::SjisToUtf8(sjis) != name || !scriptfn::WildMatch(want, sjis)) continue;  // a script cannot name it
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) victims.push_back(it->path().string());
  }
  if (ec) return Failed(atom::DELFILE, dir.string(), ec.message());
  if (victims.empty()) return Failed(atom::DELFILE, pattern, "no file matches");
  std::string why, which;
  for (const std::string& v : victims) {
    if (::unlink(v.c_str()) != 0 && why.empty()) {
      why = std::strerror(errno);
      which = v;
    }
  }
  if (!why.empty()) return Failed(atom::DELFILE, which, why);
  return true;
}

bool SCRIPTFILE::Run(uint8_t a) {
  ARGS args(a);
  SCRIPTPOS& l = Level();
  ++l.pos;
  std::string name, text, var;
  switch (a) {
    case atom::OPENFILE:
    case atom::APPENDFILE:
    case atom::CREATEFILE: {
      if (!args.Text(name) || !args.End()) return false;
      const bool ok = CloseOpen(name);  // the same name opened again starts afresh
      if (!ok) Failed(a, name, "writing failed when it was closed");
      const std::optional<std::string> path = Resolve(name, a != atom::CREATEFILE);
      if (!path) return Failed(a, jcode::SjisToUtf8(name), "empty, or not a Shift_JIS path");
      if (run.files.size() >= MAX_OPEN) return Failed(a, *path, "five files are open already");
      FlushWriters();
      const int flags = a == atom::OPENFILE ? O_RDONLY : a == atom::APPENDFILE ? O_RDWR : O_WRONLY | O_CREAT | O_TRUNC;
      const int fd = ::open(path->c_str(), flags | O_CLOEXEC, 0666);
      if (fd < 0) return Failed(a, *path, std::strerror(errno));
      auto f = std::make_unique<OPENFILE>();
      f->fd = fd;
      struct stat st {};
      if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return Failed(a, *path, "a directory");
      if (a == atom::APPENDFILE) {
        // Appended lines go before a final Ctrl-Z, which they overwrite.
        off_t end = ::lseek(fd, 0, SEEK_END);
        unsigned char last = 0;
        if (end > 0 && ::pread(fd, &last, 1, end - 1) == 1 && last == CTRL_Z) end = ::lseek(fd, end - 1, SEEK_SET);
        if (end < 0) return Failed(a, *path, std::strerror(errno));
      }
      f->name = name;
      f->path = *path;
      f->writing = a != atom::OPENFILE;
      run.files.push_back(std::move(f));
      return true;
    }
    case atom::CREATETEMPFILE: {
      if (!args.Variable(var) || !args.End()) return false;
      std::error_code ec;
      fs::path dir = fs::temp_directory_path(ec);
      if (ec) dir = "/tmp";
      if (run.files.size() >= MAX_OPEN) return Failed(a, dir.string(), "five files are open already");
      std::string tmp = (dir / "QNXXXXXX").string();
      std::vector<char> buf(tmp.begin(), tmp.end());
      buf.push_back('\0');
      const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
      if (fd < 0) return Failed(a, tmp, std::strerror(errno));
      tmp = buf.data();
      const std::optional<std::string> sjis = ToSjis(tmp);
      if (!sjis || sjis->size() > VAR::MAX_VALUE) {
        ::close(fd);
        ::unlink(tmp.c_str());
        return Failed(a, tmp, "the name does not fit a script's text");
      }
      CloseOpen(*sjis);
      auto f = std::make_unique<OPENFILE>();
      f->fd = fd;
      f->name = *sjis;
      f->path = tmp;
      f->writing = true;
      run.files.push_back(std::move(f));
      if (!SetText(var, *sjis)) return false;
      l.result = 1;
      return true;
    }
    case atom::WRITEFILE: {
      if (!args.Text(name) || !args.Comma() || !args.Text(text) || !args.End()) return false;
      OPENFILE* f = FindOpen(name);
      if (!f) return Failed(a, jcode::SjisToUtf8(name), "not open");
      if (!f->writing) return Failed(a, f->path, "open for reading");
      f->out += text;
      f->out += "\r\n";
      if (f->out.size() >= BUFFER_SIZE) f->Flush();
      if (f->failed) return Failed(a, f->path, "a write failed");
      return true;
    }
    case atom::READFILE: {
      if (!args.Text(name) || !args.Comma() || !args.Variable(var) || !args.End()) return false;
      OPENFILE* f = FindOpen(name);
      if (!f) return Failed(a, jcode::SjisToUtf8(name), "not open");
      if (f->writing) return Failed(a, f->path, "open for writing");
      if (!f->ReadLine(text)) {
        if (f->failed) return Failed(a, f->path, "a read failed");
        l.result = 0;
        return true;
      }
      if (!SetText(var, text)) return false;
      l.result = 1;
      return true;
    }
    case atom::CLOSEFILE: {
      if (!args.Text(name) || !args.End()) return false;
      OPENFILE* f = FindOpen(name);
      if (!f) return Failed(a, jcode::SjisToUtf8(name), "not open");
      const std::string path = f->path;
      if (!CloseOpen(name)) return Failed(a, path, "a write failed");
      return true;
    }
    case atom::DELFILE:
    case atom::CREATEDIR: {
      if (!args.Text(name) || !args.End()) return false;
      const std::optional<std::string> path = Resolve(name, a == atom::DELFILE);
      if (!path) return Failed(a, jcode::SjisToUtf8(name), "empty, or not a Shift_JIS path");
      if (a == atom::DELFILE && scriptfn::HasWildcard(name)) return DeleteMatching(*path);
      if (a == atom::DELFILE) {
        struct stat st {};
        if (::lstat(path->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Failed(a, *path, "a directory");
        if (::unlink(path->c_str()) != 0) return Failed(a, *path, std::strerror(errno));
      } else if (::mkdir(path->c_str(), 0777) != 0) {
        return Failed(a, *path, std::strerror(errno));
      }
      return true;
    }
    case atom::COPYFILE:
    case atom::RENAMEFILE: {
      std::string to;
      if (!args.Text(name) || !args.Comma() || !args.Text(to) || !args.End()) return false;
      const std::optional<std::string> from = Resolve(name, true);
      if (!from) return Failed(a, jcode::SjisToUtf8(name), "empty, or not a Shift_JIS path");
      const std::optional<std::string> target = Resolve(to, false);
      if (!target) return Failed(a, jcode::SjisToUtf8(to), "empty, or not a Shift_JIS path");
      FlushWriters();
      struct stat src {}, dst {};
      if (::stat(from->c_str(), &src) != 0) return Failed(a, *from, std::strerror(errno));
      const bool targetExists = ::stat(target->c_str(), &dst) == 0;
      if (targetExists && src.st_dev == dst.st_dev && src.st_ino == dst.st_ino)
        return Failed(a, *target, "the same file as " + *from);
      if (a == atom::COPYFILE) {
        if (targetExists && S_ISDIR(dst.st_mode)) return Failed(a, *target, "a directory");
        std::string tmp, why;
        if (!CopyToTemp(*from, *target, tmp, why)) return Failed(a, *from + " -> " + *target, why);
        if (::rename(tmp.c_str(), target->c_str()) != 0) {
          why = std::strerror(errno);
          ::unlink(tmp.c_str());
          return Failed(a, *target, why);
        }
        return true;
      }
      if (::renameat2(AT_FDCWD, from->c_str(), AT_FDCWD, target->c_str(), RENAME_NOREPLACE) == 0) return true;
      const int e = errno;
      if (e == EEXIST) return Failed(a, *target, "it exists");
      if (e == EXDEV) {
        // Another file system: a copy beside the target, linked in only if
        // the target is still not there, then the source goes.
        std::string tmp, why;
        if (!CopyToTemp(*from, *target, tmp, why)) return Failed(a, *from + " -> " + *target, why);
        const bool linked = ::link(tmp.c_str(), target->c_str()) == 0;
        why = linked ? std::string() : std::string(errno == EEXIST ? "it exists" : std::strerror(errno));
        ::unlink(tmp.c_str());
        if (!linked) return Failed(a, *target, why);
        if (::unlink(from->c_str()) != 0) {
          why = std::strerror(errno);
          ::unlink(target->c_str());
          return Failed(a, *from, "cannot be removed: " + why);
        }
        return true;
      }
      if ((e == EINVAL || e == ENOSYS) && S_ISREG(src.st_mode)) {
        // A file system without the no-replace rename: a link never replaces.
        if (::link(from->c_str(), target->c_str()) != 0)
          return Failed(a, *target, errno == EEXIST ? "it exists" : std::strerror(errno));
        if (::unlink(from->c_str()) != 0) {
          const std::string why = std::strerror(errno);
          ::unlink(target->c_str());
          return Failed(a, *from, "cannot be removed: " + why);
        }
        return true;
      }
      return Failed(a, *from, std::strerror(e));
    }
    case atom::CHDIR: {
      if (!args.Text(name) || !args.End()) return false;
      const std::optional<std::string> path = Resolve(name, true);
      if (!path) return Failed(a, jcode::SjisToUtf8(name), "empty, or not a Shift_JIS path");
      std::error_code ec;
      if (!fs::is_directory(*path, ec)) return Failed(a, *path, "not a directory");
      if (::access(path->c_str(), X_OK) != 0) return Failed(a, *path, std::strerror(errno));
      run.saved = CurrentDir();
      run.dir = *path;
      return true;
    }
    case atom::RESTOREDIR: {
      if (!args.End()) return false;
      if (run.saved) run.dir = *run.saved;
      return true;
    }
    case atom::GETCURRENTDIR:
    case atom::GETQUILLNETDIR:
    case atom::GETWINDIR:
    case atom::GETWINSYSDIR: {
      if (!args.Variable(var) || !args.End()) return false;
      const std::string dir = a == atom::GETCURRENTDIR    ? CurrentDir()
                              : a == atom::GETQUILLNETDIR ? DataDir()
                                                          : ConfigDir();
      const std::optional<std::string> sjis = ToSjis(dir);
      if (!sjis || sjis->size() > VAR::MAX_VALUE) return Failed(a, dir, "the name does not fit a script's text");
      return SetText(var, *sjis);
    }
    default: return true;
  }
}
