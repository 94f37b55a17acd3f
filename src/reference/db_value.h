// A value as the reference database returned it.
#pragma once

#include <string>
#include <variant>

namespace ku {

struct DbNull {};
// Empty (never assigned), Null, text, or a number.
using DbValue = std::variant<std::monostate, DbNull, std::string, double>;

}  // namespace ku
