#include "app/run_failure.h"

#include <cstdio>
#include <iterator>

#include "platform/system_error.h"

namespace app {
namespace {

constexpr const char* kStepTexts[] = {"start", "download", "signature", "install", "elevation"};
static_assert(std::size(kStepTexts) == static_cast<std::size_t>(RunStep::kElevation) + 1);

constexpr const char* kKindTexts[] = {
    "no address or path was given",
    "the updater's own path cannot be read",
    "the address is not the vendor's: nothing to do",
    "the program directory may not be written, and the run may not ask for elevation",
    "the download failed",
    "the package's signature was refused",
    "the install failed; the program directory is as it was",
    "the elevated run was not started",
    "the user gave up waiting for the programs that still run",
    "the run was closed",
    "an elevated run installs the package",
};
static_assert(std::size(kKindTexts) == static_cast<std::size_t>(FailureKind::kHandedOver) + 1);

constexpr const char* kSignatureTexts[] = {
    "accepted",
    "missing, cut short, too large or no signature file",
    "not an Ed25519 signature over the BLAKE2b hash (legacy or unknown algorithm)",
    "made with another key",
    "does not hold for the package",
    "the trusted comment's signature does not hold",
    "the package cannot be read",
    "a release older than the one installed, or as old and not the very one kept",
    "not made for this product and channel, or not saying what it is for",
    "signed more than a day ahead of this machine's clock",
    "the package is not of the size the signature names",
};
static_assert(std::size(kSignatureTexts) == signing::SIGNATURE_SIZE_DIFFERS + 1);

}  // namespace

ExitStatus ExitStatusOf(FailureKind kind) {
  return kind == FailureKind::kNoArgument ? ExitStatus::kNoArgument : ExitStatus::kFailed;
}

std::optional<FailureMessage> MessageFor(FailureKind kind) {
  if (kind == FailureKind::kNoArgument) return FailureMessage::kNoArgument;
  // Another domain's address waits for the user's close, as it always did.
  if (kind == FailureKind::kNotVendorAddress || kind >= FailureKind::kProgramsStillRun) {
    return std::nullopt;
  }
  return FailureMessage::kDownloadFailed;
}

std::string DescribeFailure(const RunFailure& failure) {
  std::string text = std::string(kStepTexts[static_cast<int>(failure.step)]) + ": " +
                     kKindTexts[static_cast<int>(failure.kind)];
  if (failure.httpStatus != 0) text += ", HTTP " + std::to_string(failure.httpStatus);
  if (failure.signature)
    text += std::string(", signature ") + SignatureResultText(*failure.signature);
  if (!failure.item.empty()) text += ", item " + failure.item;
  if (failure.archiveResult != 0) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%X", static_cast<unsigned>(failure.archiveResult));
    text += std::string(", archive result ") + code;
  }
  if (failure.systemError != 0) {
    text += ", system error " + platform::SystemErrorText(failure.systemError);
  }
  return text;
}

const char* SignatureResultText(signing::SignatureResult result) {
  const auto index = static_cast<std::size_t>(result);
  return index < std::size(kSignatureTexts) ? kSignatureTexts[index] : "of an unknown kind";
}

}  // namespace app
