// Reading one line of a block list: hosts-file, plain-domain and adblock-style lines.
#pragma once

#include <cstddef>
#include <string_view>
#include <type_traits>

enum class BlockListLineKind {
  kNothing,    // a blank line, counted nowhere
  kBlock,      // one or more names to refuse, handed to the callback
  kException,  // one name never to refuse, handed to the callback
  kSkipped,    // a line not taken: comments, cosmetic and path rules, options, invalid names...
};

// A non-owning reference to a callable taking each name a line holds with the
// line's kind (kBlock or kException, known before the first name), so that
// reading a line never allocates. The callable must outlive the reference.
class CNameCallback {
 public:
  // Implicit on purpose, so that a lambda can be passed as it is; a copy refers
  // to the same callable rather than to the reference.
  template <typename Callable,
            typename = std::enable_if_t<!std::is_same_v<std::remove_cv_t<Callable>, CNameCallback>>>
  CNameCallback(Callable& callable)
      : m_context(&callable),
        m_call([](void* context, BlockListLineKind kind, std::string_view name) {
          (*static_cast<Callable*>(context))(kind, name);
        }) {}

  void operator()(BlockListLineKind kind, std::string_view name) const {
    m_call(m_context, kind, name);
  }

 private:
  void* m_context;
  void (*m_call)(void*, BlockListLineKind, std::string_view);
};

// Longest name taken: the most a DNS name can hold in text form (RFC 1035, 2.3.4).
constexpr std::size_t kMaxDomainNameLength = 253;

// Reads one line (without its line break; a CR at the end is allowed) and hands
// the names it takes to `take`, as written but without a trailing dot, in any
// letter case. Every name handed over holds at least one dot, only the bytes
// A-Z a-z 0-9 - _ and dots, labels of 1 to 63 bytes, at most 253 bytes in all,
// and a last label that is not all digits (so no IPv4 address is ever a name).
// Internationalised names are taken in their ASCII (punycode) form only, the form
// a browser puts in its requests; a raw UTF-8 name would never match and is skipped.
BlockListLineKind ReadBlockListLine(std::string_view line, CNameCallback take);

// True when `name` (trailing dot already removed) passes the rules above.
bool IsBlockListName(std::string_view name);
