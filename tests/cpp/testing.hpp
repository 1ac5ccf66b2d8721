// A small table-friendly test harness for the C++ unit tests: TEST registers a case, CHECK and
// CHECK_EQ record failures without stopping the case, main() prints "N passed, N failed". A case
// that makes no check at all fails: a table that came out empty, or a loop that never ran, would
// otherwise pass whatever the code did.
#pragma once

#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace testing {

struct Case {
  const char* name;
  std::function<void()> fn;
};

inline std::vector<Case>& registry() {
  static std::vector<Case> cases;
  return cases;
}

inline int& failures_in_case() {
  static int n = 0;
  return n;
}

inline int& checks_in_case() {
  static int n = 0;
  return n;
}

// Counts one check whose failure the caller reports (with fail and a message of its own); returns
// `fails`, as in `if (testing::check_fails(got != want)) testing::fail(...)`.
inline bool check_fails(bool fails) {
  ++checks_in_case();
  return fails;
}

struct Registrar {
  Registrar(const char* name, std::function<void()> fn) { registry().push_back({name, std::move(fn)}); }
};

template <class T>
std::string show(const T& v) {
  std::ostringstream os;
  if constexpr (std::is_convertible_v<T, std::string_view>) {
    os << '"' << std::string_view(v) << '"';
  } else if constexpr (std::is_enum_v<T>) {
    os << static_cast<long long>(v);
  } else if constexpr (requires { os << v; }) {
    os << v;
  } else {
    os << "<value>";
  }
  return os.str();
}

inline void fail(const char* file, int line, const std::string& what) {
  ++failures_in_case();
  std::cerr << file << ":" << line << ": " << what << "\n";
}

}  // namespace testing

#define TESTING_CAT2(a, b) a##b
#define TESTING_CAT(a, b) TESTING_CAT2(a, b)
#define TEST(name)                                                                      \
  static void TESTING_CAT(test_fn_, name)();                                            \
  static ::testing::Registrar TESTING_CAT(test_reg_, name)(#name, TESTING_CAT(test_fn_, name)); \
  static void TESTING_CAT(test_fn_, name)()

#define CHECK(cond) \
  do { if (::testing::check_fails(!(cond))) ::testing::fail(__FILE__, __LINE__, "CHECK failed: " #cond); } while (0)

#define CHECK_EQ(a, b)                                                                              \
  do {                                                                                              \
    const auto& check_a_ = (a);                                                                     \
    const auto& check_b_ = (b);                                                                     \
    if (::testing::check_fails(!(check_a_ == check_b_)))                                           \
      ::testing::fail(__FILE__, __LINE__,                                                           \
                      std::string("CHECK_EQ failed: " #a " == " #b "\n  left:  ") +                 \
                          ::testing::show(check_a_) + "\n  right: " + ::testing::show(check_b_));   \
  } while (0)
