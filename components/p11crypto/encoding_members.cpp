#include "p11crypto/member_registry.h"

namespace p11crypto {

void AddEncodingMembers(MemberRegistry&) {}

}  // namespace p11crypto
