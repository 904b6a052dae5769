#include "p11crypto/member_registry.h"

namespace p11crypto {

void AddDialogMembers(MemberRegistry&) {}

}  // namespace p11crypto
