#include "platform/jre.h"

#include <oniguruma.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

namespace {

// About a millisecond of backtracking (some 30 ns a step measured here):
// a text that needs more does not match.  The limit holds per start
// position and for the whole search.
constexpr unsigned long kDefaultRetryLimit = 30000;

std::atomic<bool> gUsable{true};
std::atomic<unsigned long> gRetryLimit{kDefaultRetryLimit};

// Ruby syntax with "\v" as the vertical tab (0x0B), the input-column mark.
OnigSyntaxType gSyntax;
OnigEncoding gEncodings[1] = {ONIG_ENCODING_SJIS};

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    onig_initialize(gEncodings, 1);
    onig_copy_syntax(&gSyntax, ONIG_SYNTAX_RUBY);
    onig_set_syntax_op2(&gSyntax, onig_get_syntax_op2(&gSyntax) | ONIG_SYN_OP2_ESC_V_VTAB);
  });
}

void FreeEngine(JRE2* jre) {
  if (jre->regex) onig_free(static_cast<OnigRegex>(jre->regex));
  if (jre->region) onig_region_free(static_cast<OnigRegion*>(jre->region), 1);
  jre->regex = nullptr;
  jre->region = nullptr;
}

void ClearResult(JRE2* jre) {
  jre->nLength = 0;
  jre->nPosition = -1;
  jre->nGroups = 0;
  for (int g = 0; g < JRE_GROUPS; ++g) {
    jre->aGroupPosition[g] = -1;
    jre->aGroupLength[g] = 0;
  }
}

}  // namespace

JRE2::JRE2(JRE2&& other) noexcept { *this = std::move(other); }

JRE2& JRE2::operator=(JRE2&& other) noexcept {
  if (this != &other) {
    FreeEngine(this);
    dwSize = std::exchange(other.dwSize, 0);
    nStart = other.nStart;
    nError = other.nError;
    nLength = other.nLength;
    nPosition = other.nPosition;
    wTranslate = other.wTranslate;
    nGroups = other.nGroups;
    std::memcpy(aGroupPosition, other.aGroupPosition, sizeof aGroupPosition);
    std::memcpy(aGroupLength, other.aGroupLength, sizeof aGroupLength);
    szError = std::move(other.szError);
    regex = std::exchange(other.regex, nullptr);
    region = std::exchange(other.region, nullptr);
  }
  return *this;
}

JRE2::~JRE2() { FreeEngine(this); }

bool Jre2Open(JRE2* jre) {
  FreeEngine(jre);
  jre->dwSize = 0;
  jre->nStart = 0;
  jre->szError.clear();
  ClearResult(jre);
  if (!gUsable.load()) {
    jre->nError = JRE_ERROR_UNUSABLE;
    jre->szError = "正規表現は使えません。";
    return false;
  }
  InitOnce();
  jre->nError = JRE_ERROR_NONE;
  jre->dwSize = JRE2_RECORD_SIZE;
  return true;
}

bool Jre2Compile(JRE2* jre, const char* pattern) {
  return Jre2Compile(jre, pattern, pattern ? int(std::strlen(pattern)) : 0);
}

bool Jre2Compile(JRE2* jre, const char* pattern, int length) {
  FreeEngine(jre);
  if (jre->dwSize != JRE2_RECORD_SIZE || !gUsable.load()) {
    jre->dwSize = 0;
    jre->nError = gUsable.load() ? JRE_ERROR_NOT_OPEN : JRE_ERROR_UNUSABLE;
    return false;
  }
  // Fuzzy matching has no engine here: a fuzzy record compiles as a plain
  // expression that ignores case.
  OnigOptionType options = jre->wTranslate ? ONIG_OPTION_IGNORECASE : ONIG_OPTION_NONE;
  OnigRegex reg = nullptr;
  OnigErrorInfo info{};
  const auto* p = reinterpret_cast<const OnigUChar*>(pattern ? pattern : "");
  int r = onig_new(&reg, p, p + (length > 0 ? length : 0), options, ONIG_ENCODING_SJIS, &gSyntax, &info);
  if (r != ONIG_NORMAL) {
    OnigUChar text[ONIG_MAX_ERROR_MESSAGE_LEN];
    onig_error_code_to_str(text, r, &info);
    jre->szError = reinterpret_cast<const char*>(text);
    jre->nError = JRE_ERROR_SYNTAX;
    jre->dwSize = 0;
    return false;
  }
  jre->regex = reg;
  jre->region = onig_region_new();
  jre->nError = JRE_ERROR_NONE;
  jre->szError.clear();
  return true;
}

int Jre2GetMatchInfo(JRE2* jre, const char* text) {
  return Jre2GetMatchInfo(jre, text, text ? int(std::strlen(text)) : 0);
}

int Jre2GetMatchInfo(JRE2* jre, const char* text, int length) {
  ClearResult(jre);
  if (jre->dwSize != JRE2_RECORD_SIZE || !jre->regex) {
    jre->nError = JRE_ERROR_NOT_OPEN;
    return 0;
  }
  if (length < 0) length = 0;
  int start = jre->nStart;
  if (start < 0) start = 0;
  if (start > length) {
    jre->nError = JRE_ERROR_NONE;
    return 0;
  }
  const auto* s = reinterpret_cast<const OnigUChar*>(text ? text : "");
  const OnigUChar* end = s + length;
  auto* region = static_cast<OnigRegion*>(jre->region);
  // One match parameter block per thread, made on first use: allocating it
  // on every call cost more than many of the searches it serves.  The
  // limits are set on each call since tests change them.
  thread_local std::unique_ptr<OnigMatchParam, void (*)(OnigMatchParam*)> param(
      [] {
        OnigMatchParam* m = onig_new_match_param();
        if (m) onig_initialize_match_param(m);
        return m;
      }(),
      onig_free_match_param);
  OnigMatchParam* mp = param.get();
  if (!mp) {
    jre->nError = JRE_ERROR_ENGINE;
    return 0;
  }
  const unsigned long limit = gRetryLimit.load(std::memory_order_relaxed);
  onig_set_retry_limit_in_match_of_match_param(mp, limit);
  onig_set_retry_limit_in_search_of_match_param(mp, limit);
  int r = onig_search_with_param(static_cast<OnigRegex>(jre->regex), s, end, s + start, end, region,
                                 ONIG_OPTION_NONE, mp);
  if (r == ONIG_MISMATCH) {
    jre->nError = JRE_ERROR_NONE;
    return 0;
  }
  if (r < 0) {
    jre->nError = (r == ONIGERR_RETRY_LIMIT_IN_MATCH_OVER || r == ONIGERR_RETRY_LIMIT_IN_SEARCH_OVER)
                      ? JRE_ERROR_RETRY_LIMIT
                      : JRE_ERROR_ENGINE;
    return 0;
  }
  jre->nError = JRE_ERROR_NONE;
  jre->nPosition = int32_t(region->beg[0]);
  jre->nLength = int32_t(region->end[0] - region->beg[0]);
  jre->nGroups = region->num_regs < JRE_GROUPS ? region->num_regs : JRE_GROUPS;
  for (int g = 0; g < jre->nGroups; ++g) {
    if (region->beg[g] >= 0) {
      jre->aGroupPosition[g] = int32_t(region->beg[g]);
      jre->aGroupLength[g] = int32_t(region->end[g] - region->beg[g]);
    }
  }
  return 1;
}

void Jre2Close(JRE2* jre) {
  FreeEngine(jre);
  jre->dwSize = 0;
}

std::string JreGetVersion() { return std::string("Oniguruma ") + onig_version(); }

std::string GetJreMessage(const JRE2* jre) {
  if (!jre) return {};
  switch (jre->nError) {
    case JRE_ERROR_NONE: return {};
    case JRE_ERROR_SYNTAX: return jre->szError;
    case JRE_ERROR_NOT_OPEN: return "正規表現が準備されていません。";
    case JRE_ERROR_RETRY_LIMIT: return "正規表現の照合が長くかかりすぎるので打ち切りました。";
    case JRE_ERROR_UNUSABLE: return "正規表現は使えません。";
    default: return "正規表現の処理でエラーが発生しました。";
  }
}

bool JreUsable() { return gUsable.load(); }
void JreSetUsable(bool usable) { gUsable.store(usable); }

void JreSetRetryLimit(unsigned long limit) { gRetryLimit.store(limit ? limit : kDefaultRetryLimit); }
unsigned long JreRetryLimit() { return gRetryLimit.load(); }
