#pragma once
// Words for PKCS#11 return values, for get_getErrorMsg.

#include <string>

#include "p11crypto/pkcs11/pkcs11.h"

namespace p11crypto {

// "CKR_PIN_INCORRECT (0x000000A0)"; unknown values as "CKR 0x...".
std::string DescribeCkr(CK_RV rv);

}  // namespace p11crypto
