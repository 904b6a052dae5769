#pragma once
// genSecretKey and the members that use the instance's secret key:
// EncryptData, DecryptData, MAC, encFile, decFile.

#include "p11crypto/members/member_registry.h"

namespace p11crypto {

void AddSecretKeyMembers(MemberRegistry& members);

}  // namespace p11crypto
