// quillnet-tool tag: read, write and check colour syntax files.
//
//   tag dump FILE.tag [--loaded]   the text form (stock/tagtext.h)
//   tag compile TEXT OUT.tag       the file form of a text ("-": standard input)
//   tag check FILE.tag             every pattern that does not compile
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/atomicfile.h"
#include "platform/jcode.h"
#include "platform/jre.h"
#include "stock/tagmaker.h"
#include "stock/tagtext.h"
#include "tools/tool_complain.h"

extern const char* const kTagUsage;
const char* const kTagUsage =
    "usage: quillnet-tool tag dump FILE.tag [--loaded]\n"
    "       quillnet-tool tag compile TEXT OUT.tag\n"
    "       quillnet-tool tag check FILE.tag\n"
    "\n"
    "  dump     print a colour syntax file in its text form (UTF-8); an older\n"
    "           file is shown converted to the current version; --loaded\n"
    "           shows the syntax as the program holds it after loading\n"
    "           (program tag numbers, each rule's tag and aftag), which is\n"
    "           not meant to be compiled\n"
    "  compile  write the colour syntax file of a text form (TEXT \"-\" reads\n"
    "           standard input); dump then compile gives the file back\n"
    "  check    load the file and try every rule's pattern, exit pattern and\n"
    "           the expressions of its title: one line \"NAME: PATTERN: why\"\n"
    "           for each that does not compile (status 1), nothing when all do\n"
    "\n";

namespace {

int TagUsage(const std::string& complaint) { return Complain("tag", complaint); }

bool WriteOut(const std::string& s) { return WriteAll(1, s.data(), s.size()); }

int Dump(const std::vector<std::string>& args) {
  std::string file;
  bool loaded = false;
  for (const std::string& a : args) {
    if (a == "--loaded") loaded = true;
    else if (file.empty() && a.rfind("--", 0) != 0) file = a;
    else return TagUsage("unexpected argument " + a);
  }
  if (file.empty()) return TagUsage("dump needs a FILE.tag");
  if (loaded) {
    if (!TAGMAKER::Open(file)) return 2;  // the loader has said why
    return WriteOut(DumpLoadedSyntax()) ? 0 : 2;
  }
  std::string bytes;
  bool missing = false;
  if (!ReadFileBytes(file, bytes, &missing)) {
    std::fprintf(stderr, "quillnet-tool: %s%s\n", file.c_str(),
                 missing ? "は見つかりません。" : "のオープンで何らかのエラーが発生しました。");
    return 2;
  }
  TAGFILEDATA data;
  std::string message, warning;
  if (!ParseTagFile(bytes, &data, &message, &warning)) {
    std::fprintf(stderr, "quillnet-tool: %s%s\n", file.c_str(), message.c_str());
    return 2;
  }
  if (!warning.empty()) std::fprintf(stderr, "quillnet-tool: %s%s\n", file.c_str(), warning.c_str());
  return WriteOut(DumpTagText(data)) ? 0 : 2;
}

int Compile(const std::vector<std::string>& args) {
  if (args.size() != 2) return TagUsage("compile needs TEXT and OUT.tag");
  std::string text;
  if (args[0] == "-") {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) text.append(buf, n);
  } else if (!ReadFileBytes(args[0], text)) {
    std::fprintf(stderr, "quillnet-tool: %s: cannot read\n", args[0].c_str());
    return 2;
  }
  TAGFILEDATA data;
  std::string error;
  if (!CompileTagText(text, &data, &error)) {
    std::fprintf(stderr, "quillnet-tool: %s: %s\n", args[0].c_str(), error.c_str());
    return 2;
  }
  if (!ReplaceFileAtomically(args[1], WriteTagFile(data), 0644, &error)) {
    std::fprintf(stderr, "quillnet-tool: %s: %s\n", args[1].c_str(), error.c_str());
    return 2;
  }
  return 0;
}

// The regular expressions of a compiled template (elements 6-8, 10, 12),
// nested templates included.
void TemplateExpressions(const unsigned char* b, int room, int depth, std::vector<std::string>* out) {
  int p = 0;
  while (p < room && depth <= TITLE_MAX_DEPTH) {
    unsigned char e = b[p];
    if (e < TITLE_LITERAL || e >= TITLE_END) return;
    int len = TitleElementLength(b + p, room - p);
    if (len == 0) return;
    if (e >= TITLE_SEARCH && e <= TITLE_SEARCH_MAX) {
      out->emplace_back(reinterpret_cast<const char*>(b + p + 2), b[p + 1]);
    } else if (e == TITLE_LINE_REGEX) {
      out->emplace_back(reinterpret_cast<const char*>(b + p + 5), b[p + 4]);
    } else if (e == TITLE_RESULT_TEXT || e == TITLE_RESULT_REGEX || e == TITLE_NESTED_PIECE) {
      TemplateExpressions(b + p + 1, room - p - 1, depth + 1, out);
      if (e == TITLE_RESULT_REGEX) {
        // The expression follows the nested template.
        int t = 1;
        const unsigned char* q = b + p + 1;
        int r = room - p - 1, k = 0;
        while (k < r && q[k] != TITLE_END) {
          int n = TitleElementLength(q + k, r - k);
          if (n == 0) break;
          k += n;
        }
        t += k + 1;
        if (p + t < room) out->emplace_back(reinterpret_cast<const char*>(b + p + t + 1), b[p + t]);
      }
    }
    p += len;
  }
}

int Check(const std::vector<std::string>& args) {
  if (args.size() != 1) return TagUsage("check needs one FILE.tag");
  if (!TAGMAKER::Open(args[0])) return 2;
  int failed = 0;
  auto tryPattern = [&](const TAGPROP* r, const std::string& pattern) {
    if (pattern.empty()) return;
    JRE2 jre;
    Jre2Open(&jre);
    if (Jre2Compile(&jre, pattern.c_str(), int(pattern.size()))) return;
    ++failed;
    std::string name(r->szName, strnlen(r->szName, sizeof r->szName));
    std::printf("%s: %s: %s\n", jcode::SjisToUtf8(name).c_str(), jcode::SjisToUtf8(pattern).c_str(),
                GetJreMessage(&jre).c_str());
  };
  for (int t = TAG_FIRST_RULE; t < tagarray.Count(); ++t) {
    const TAGPROP* r = TAGMAKER::GetTagProp(t);
    tryPattern(r, std::string(r->szLibPattern, strnlen(r->szLibPattern, sizeof r->szLibPattern)));
    tryPattern(r, std::string(r->szExit, strnlen(r->szExit, sizeof r->szExit)));
    std::vector<std::string> expressions;
    TemplateExpressions(r->abTitle, sizeof r->abTitle, 0, &expressions);
    if (r->iSpeech) {
      const TAGAID* a = aidarray.GetItem(r->iSpeech - 1);
      TemplateExpressions(a->abNumber, sizeof a->abNumber, 0, &expressions);
      TemplateExpressions(a->abDate, sizeof a->abDate, 0, &expressions);
      TemplateExpressions(a->abParent, sizeof a->abParent, 0, &expressions);
    }
    for (auto& e : expressions) tryPattern(r, e);
  }
  std::fflush(stdout);
  return failed ? 1 : 0;
}

}  // namespace

int TagCommand(const std::vector<std::string>& args) {
  if (args.empty()) return TagUsage("no tag command given");
  const std::string cmd = args[0];
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (cmd == "dump") return Dump(rest);
  if (cmd == "compile") return Compile(rest);
  if (cmd == "check") return Check(rest);
  return TagUsage("unknown tag command: " + cmd);
}
