#include "p11crypto/member_registry.h"

namespace p11crypto {

void AddSignatureMembers(MemberRegistry&) {}

}  // namespace p11crypto
