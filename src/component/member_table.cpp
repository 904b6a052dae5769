#include "component/member_table.h"

#include <array>

namespace vorlink {
namespace {

constexpr CallKind M = CallKind::kMethod;
constexpr CallKind P = CallKind::kPropertyGet;
constexpr VariantType I4 = VariantType::kI4;
constexpr VariantType UI4 = VariantType::kUI4;
constexpr VariantType R8 = VariantType::kR8;
constexpr VariantType STR = VariantType::kBstr;

// DISPID, request name, call kind, arguments, result.
constexpr std::array<MemberRow, 94> kMembers = {{
    {1, u"Initialize", M, "T", I4},
    {3, u"get_get_enumerate_slots", P, "", STR},
    {4, u"Select_slot", M, "T", I4},
    {5, u"Login", M, "T", I4},
    {6, u"Logout", M, "", I4},
    {7, u"PKCS7Sign", M, "TII", I4},
    {8, u"get_getSignature", P, "", STR},
    {9, u"PKCS7Verify", M, "TTTT", I4},
    {10, u"Finalize", M, "", I4},
    {11, u"get_getErrorMsg", P, "", STR},
    {12, u"getCardCert", M, "I", I4},
    {13, u"get_getCert", P, "", STR},
    {14, u"ChangePIN", M, "TT", I4},
    {15, u"genSecretKey", M, "", I4},
    {16, u"EncryptData", M, "T", I4},
    {17, u"DecryptData", M, "T", I4},
    {18, u"EncryptSecretKey", M, "T", I4},
    {19, u"DecryptSecretKey", M, "T", I4},
    {20, u"get_getSignCert", P, "", STR},
    {21, u"get_getP7VerifyCert", P, "", STR},
    {22, u"get_getP7VerifyContext", P, "", STR},
    {23, u"get_getEncryptData", P, "", STR},
    {24, u"get_getDecryptData", P, "", STR},
    {25, u"get_getEncryptSecretKey", P, "", STR},
    {26, u"parserX509", M, "T", I4},
    {27, u"get_getCertIssuer", P, "", STR},
    {28, u"get_getCertVersion", P, "", I4},
    {29, u"get_getCertSerial", P, "", STR},
    {30, u"get_getCertNotbefore", P, "", STR},
    {31, u"get_getCertNotafter", P, "", STR},
    {32, u"get_getCertPublicKey", P, "", STR},
    {33, u"get_getCertSubject", P, "", STR},
    {35, u"get_getSelectFolder", P, "", STR},
    {36, u"UnicodeToBIG5", M, "T", I4},
    {37, u"get_getBig5", P, "", STR},
    {38, u"UnicodeToUTF8", M, "T", I4},
    {39, u"get_getUtf8", P, "", STR},
    {40, u"B64_encode", M, "T", I4},
    {41, u"get_getB64encode", P, "", STR},
    {42, u"B64_decode", M, "T", I4},
    {43, u"get_getB64decode", P, "", STR},
    {44, u"SaveFile", M, "TT", I4},
    {45, u"OpenFile", M, "TI", I4},
    {46, u"get_getFileSize", P, "", R8},
    {47, u"get_getFileData", P, "", STR},
    {48, u"SHA1", M, "TI", I4},
    {49, u"get_getSHA1Data", P, "", STR},
    {50, u"SelectFolder", M, "", I4},
    {51, u"MAC", M, "T", I4},
    {52, u"get_getMACData", P, "", STR},
    {53, u"Enumerate_slots", M, "", I4},
    {54, u"CardCertSerial", M, "", I4},
    {55, u"get_getCardCertSerial", P, "", STR},
    {56, u"get_getCommonName", P, "", STR},
    {57, u"get_getP7VerifyContextB64", P, "", STR},
    {58, u"PKCS7Encrypt", M, "TT", I4},
    {59, u"get_getPKCS7EncryptData", P, "", STR},
    {60, u"PKCS7Decrypt", M, "T", I4},
    {61, u"get_getPKCS7DecryptData", P, "", STR},
    {62, u"BIG5ToUnicode", M, "T", I4},
    {63, u"get_getUnicode", P, "", STR},
    {64, u"SelectFiles", M, "T", I4},
    {65, u"get_getFiles", P, "", STR},
    {66, u"BeginAnimate", M, "T", I4},
    {67, u"EndAnimate", M, "", I4},
    {68, u"SetMessage", M, "T", I4},
    {69, u"loadFile", M, "TII", I4},
    {70, u"getLoadFileData", M, "", STR},
    {71, u"appendFile", M, "TT", I4},
    {72, u"moveFile", M, "TT", I4},
    {73, u"deleteFile", M, "T", I4},
    {74, u"encodeFile", M, "TT", I4},
    {75, u"decodeFile", M, "TT", I4},
    {76, u"signFile", M, "TT", I4},
    {77, u"encFile", M, "TT", I4},
    {78, u"verifyFile", M, "TT", I4},
    {79, u"decFile", M, "TT", I4},
    {80, u"getAppendFilePath", M, "", STR},
    {81, u"getSignFilePath", M, "", STR},
    {82, u"getEncFilePath", M, "", STR},
    {83, u"getVerifyFilePath", M, "", STR},
    {84, u"getDecFilePath", M, "", STR},
    {85, u"getLoadFileDataSize", M, "", I4},
    {86, u"getAppendDataSize", M, "", I4},
    {87, u"getUserFolder", M, "", STR},
    {88, u"clearLoadData", M, "", I4},
    {89, u"getEncodePath", M, "", STR},
    {90, u"getDecodePath", M, "", STR},
    {91, u"initSlot", M, "TT", I4},
    {92, u"getTempFree", M, "", UI4},
    {95, u"signBigFile", M, "T", I4},
    {96, u"verifyBigFile", M, "TT", I4},
    {97, u"EncryptSecretKeyOAEP", M, "T", I4},
    {98, u"DecryptSecretKeyOAEP", M, "T", I4},
}};

}  // namespace

std::span<const MemberRow> MemberTable() { return kMembers; }

const MemberRow* FindMember(std::u16string_view name) {
  for (const MemberRow& row : kMembers) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

const MemberRow* FindMemberByDispid(int dispid) {
  for (const MemberRow& row : kMembers) {
    if (row.dispid == dispid) return &row;
  }
  return nullptr;
}

}  // namespace vorlink
