#include "p11crypto/member_registry.h"

namespace p11crypto {

void AddEncryptionMembers(MemberRegistry&) {}

}  // namespace p11crypto
