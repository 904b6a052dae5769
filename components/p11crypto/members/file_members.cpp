// Files and folders: SaveFile, OpenFile, loadFile, appendFile, moveFile,
// deleteFile, getUserFolder, getTempFree and the reads that go with them.
// Every path passes the folder guard first; a refused path touches nothing.

#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <system_error>

#include "p11crypto/files/anchored_file.h"
#include "p11crypto/files/file_target.h"
#include "p11crypto/members/member_registry.h"
#include "p11crypto/members/member_support.h"
#include "p11crypto/text/base64.h"
#include "p11crypto/text/utf16.h"

namespace p11crypto {
namespace {

enum Dispid {
  kFileSize = 46,
  kFileData = 47,
  kLoadFileData = 70,
  kAppendFilePath = 80,
  kLoadFileDataSize = 85,
  kAppendDataSize = 86
};

// What OpenFile and loadFile read into memory at most.
constexpr std::size_t kMaxOpenFileBytes = 8 << 20;
constexpr std::size_t kMaxLoadChunkBytes = 4 << 20;

// Data text: UTF-8 text is written as it is; a Base64 data URL
// ("data:[<type>];base64,<Base64>") is written as the bytes it holds.
std::optional<std::string> DataBytes(const std::string& data) {
  if (data.rfind("data:", 0) != 0) return data;
  const std::size_t comma = data.find(',');
  if (comma == std::string::npos) return data;
  const std::string_view header(data.data(), comma);
  if (header.size() < 7 || header.substr(header.size() - 7) != ";base64") return data;
  return Base64DecodeToString(std::string_view(data).substr(comma + 1));
}

bool IsUtf8(const std::string& bytes) {
  const std::u16string wide = Utf8ToUtf16(bytes);
  return Utf16ToUtf8(reinterpret_cast<const std::uint16_t*>(wide.data()), wide.size()) == bytes;
}

// The anchored path for a member, or nullopt after recording why not.
std::optional<AllowedPath> Target(ComponentState& state, const std::string& path, std::int32_t& code) {
  if (path.empty()) {
    code = Fail(state, kBadArgument, "the path is empty");
    return std::nullopt;
  }
  return FileTarget(state, path, code);
}

std::int32_t SaveFile(ComponentState& state, const std::string& path, const std::string& data) {
  const auto bytes = DataBytes(data);
  if (!bytes) return Fail(state, kBadArgument, "the data URL holds no valid Base64");
  std::int32_t code = kOk;
  const auto target = Target(state, path, code);
  if (!target) return code;
  const int error = ReplaceFile(*target, *bytes);
  return error ? FailFile(state, error, "cannot write", target->path) : Succeed(state);
}

std::int32_t OpenFile(ComponentState& state, const std::string& path, std::int32_t mode) {
  state.results.erase(kFileSize);
  state.results.erase(kFileData);
  if (mode != 0 && mode != 1) return Fail(state, kBadArgument, "the mode is 0 (text) or 1 (Base64)");
  std::int32_t code = kOk;
  const auto target = Target(state, path, code);
  if (!target) return code;
  std::string bytes;
  std::uint64_t size = 0;
  const int error = ReadWholeFile(*target, kMaxOpenFileBytes, bytes, size);
  if (error == EFBIG) {
    state.results[kFileSize] = Value::Real(static_cast<double>(size));
    return Fail(state, kBadArgument, "the file is larger than 8 MiB: read it in parts with loadFile");
  }
  if (error) return FailFile(state, error, "cannot read", target->path);
  if (mode == 0 && !IsUtf8(bytes))
    return Fail(state, kConversionFailed, "the file is not UTF-8 text: open it with mode 1");
  state.results[kFileSize] = Value::Real(static_cast<double>(size));
  state.SetResult(kFileData, mode == 0 ? std::move(bytes) : Base64Encode(bytes));
  return Succeed(state);
}

std::int32_t LoadFile(ComponentState& state, const std::string& path, std::int32_t offset, std::int32_t length) {
  state.loaded_data.clear();
  if (offset < 0 || length <= 0 || static_cast<std::size_t>(length) > kMaxLoadChunkBytes) {
    return Fail(state, kBadArgument, "the offset is 0 or more and the length from 1 to 4194304");
  }
  std::int32_t code = kOk;
  const auto target = Target(state, path, code);
  if (!target) return code;
  const int error =
      ReadFileChunk(*target, static_cast<std::uint64_t>(offset), static_cast<std::size_t>(length), state.loaded_data);
  return error ? FailFile(state, error, "cannot read", target->path) : Succeed(state);
}

std::int32_t AppendFile(ComponentState& state, const std::string& path, const std::string& data) {
  state.results.erase(kAppendFilePath);
  state.append_size = 0;
  const auto bytes = DataBytes(data);
  if (!bytes) return Fail(state, kBadArgument, "the data URL holds no valid Base64");
  if (bytes->size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return Fail(state, kBadArgument, "the data is larger than 2 GiB");
  }
  std::int32_t code = kOk;
  const auto target = Target(state, path, code);
  if (!target) return code;
  if (const int error = AppendToFile(*target, *bytes)) return FailFile(state, error, "cannot append to", target->path);
  state.SetResult(kAppendFilePath, target->path.string());
  state.append_size = static_cast<std::int32_t>(bytes->size());
  return Succeed(state);
}

std::int32_t Move(ComponentState& state, const std::string& from, const std::string& to) {
  std::int32_t code = kOk;
  const auto source = Target(state, from, code);
  if (!source) return code;
  const auto destination = Target(state, to, code);
  if (!destination) return code;
  const int error = MoveFile(*source, *destination);
  return error ? FailFile(state, error, "cannot move", source->path) : Succeed(state);
}

std::int32_t Delete(ComponentState& state, const std::string& path) {
  std::int32_t code = kOk;
  const auto target = Target(state, path, code);
  if (!target) return code;
  const int error = DeleteFile(*target);
  return error ? FailFile(state, error, "cannot delete", target->path) : Succeed(state);
}

// Free space in the temporary folder in MiB (at most 4294967295).
Value TempFree(ComponentState& state) {
  std::error_code ignored;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(ignored);
  struct statvfs info {};
  if (::statvfs(temp.empty() ? "/tmp" : temp.c_str(), &info) != 0) {
    FailFile(state, errno, "cannot measure", temp);
    return Value::Unsigned(0);
  }
  const unsigned long long mib = static_cast<unsigned long long>(info.f_bavail) * info.f_frsize >> 20;
  Succeed(state);
  return Value::Unsigned(static_cast<std::uint32_t>(std::min<unsigned long long>(mib, 0xFFFFFFFFu)));
}

}  // namespace

void AddFileMembers(MemberRegistry& m) {
  m[44] = [](ComponentState& s, const Args& a) { return Code(SaveFile(s, a.Text(0), a.Text(1))); };
  m[45] = [](ComponentState& s, const Args& a) { return Code(OpenFile(s, a.Text(0), a.Int(1))); };
  m[kFileSize] = ResultReader(kFileSize, Value::Real(0));
  m[kFileData] = ResultReader(kFileData);
  m[69] = [](ComponentState& s, const Args& a) { return Code(LoadFile(s, a.Text(0), a.Int(1), a.Int(2))); };
  m[kLoadFileData] = [](ComponentState& s, const Args&) { return Value::Text(Base64Encode(s.loaded_data)); };
  m[kLoadFileDataSize] = [](ComponentState& s, const Args&) {
    return Value::Int(static_cast<std::int32_t>(s.loaded_data.size()));
  };
  m[88] = [](ComponentState& s, const Args&) {
    s.loaded_data.clear();
    s.loaded_data.shrink_to_fit();
    return Code(Succeed(s));
  };
  m[71] = [](ComponentState& s, const Args& a) { return Code(AppendFile(s, a.Text(0), a.Text(1))); };
  m[kAppendFilePath] = ResultReader(kAppendFilePath);
  m[kAppendDataSize] = [](ComponentState& s, const Args&) { return Value::Int(s.append_size); };
  m[72] = [](ComponentState& s, const Args& a) { return Code(Move(s, a.Text(0), a.Text(1))); };
  m[73] = [](ComponentState& s, const Args& a) { return Code(Delete(s, a.Text(0))); };
  m[87] = [](ComponentState& s, const Args&) { return Value::Text(s.folders.WorkingFolder().string()); };
  m[92] = [](ComponentState& s, const Args&) { return TempFree(s); };
}

}  // namespace p11crypto
