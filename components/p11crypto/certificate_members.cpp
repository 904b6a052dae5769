#include "p11crypto/member_registry.h"

namespace p11crypto {

void AddCertificateMembers(MemberRegistry&) {}

}  // namespace p11crypto
