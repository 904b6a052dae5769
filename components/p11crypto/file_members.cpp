#include "p11crypto/member_registry.h"

namespace p11crypto {

void AddFileMembers(MemberRegistry&) {}

}  // namespace p11crypto
