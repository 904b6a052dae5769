#pragma once
// The PKCS#11 declarations, with the standard names.
#include <p11-kit/pkcs11.h>
