#pragma once
// The crypto component's members the agent calls: one row per member, with
// its dispatch id, request name, call kind, argument types and result type.
// Pages reach a row by its request name; the agent calls it by dispatch id.

#include <optional>
#include <span>
#include <string_view>

#include "component/variant.h"

namespace vorlink {

enum class CallKind { kMethod, kPropertyGet };

struct MemberRow {
  int dispid;
  std::u16string_view name;
  CallKind kind;
  // One letter per argument, from Param1 on: 'T' text, 'I' integer.
  std::string_view arguments;
  VariantType result;
};

std::span<const MemberRow> MemberTable();

// The row for a request name (exact, case-sensitive), or nullopt.
const MemberRow* FindMember(std::u16string_view name);
const MemberRow* FindMemberByDispid(int dispid);

inline constexpr int kDispidLogout = 6;

}  // namespace vorlink
