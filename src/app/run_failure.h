// Why a run ended without installing the package and starting the main
// application: the step it was at, what kind of failure it met, and what the
// layers below said about it. The run carries one such record to its view and
// to its log; the exit status follows from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/messages.h"
#include "signing/package_signature.h"

namespace app {

enum class RunStep { kStart, kDownload, kSignature, kInstall, kElevation };

enum class FailureKind {
  kNoArgument,          // started alone: message 1
  kNoProgramDirectory,  // the updater's own path could not be read
  kNotVendorAddress,    // an address of another domain: nothing to do
  kNotWritable,         // the program directory may not be written, and no elevation
  kDownloadFailed,
  kSignatureRefused,
  kInstallFailed,
  kElevationRefused,
  // The run ends without a message: the user chose, or another run goes on.
  kProgramsStillRun,  // the user gave up waiting for the main application
  kClosed,            // the user closed the run
  kHandedOver,        // an elevated run of the updater installs the package
};

struct RunFailure {
  RunFailure(RunStep atStep, FailureKind ofKind, int status = 0)
      : step(atStep), kind(ofKind), httpStatus(status) {}
  RunStep step;
  FailureKind kind;
  std::uint32_t systemError = 0;  // the platform's error code; 0: none known
  int httpStatus = 0;             // status of the last response; 0: none came
  std::optional<signing::SignatureResult> signature;
  std::string item;                 // the archive item that failed, where known
  std::uint32_t archiveResult = 0;  // the archive's result for that item; 0: none
};

// How the process ends.
enum class ExitStatus {
  kUpdated = 0,     // installed (or current) and the main application started
  kNoArgument = 1,  // message 1's case
  kFailed = 2,      // nothing was installed
};

// The status of a run that failed.
ExitStatus ExitStatusOf(FailureKind kind);

// The message the user sees for `kind`; nothing when the run ends quietly.
std::optional<FailureMessage> MessageFor(FailureKind kind);

// The record as the log shows it, e.g. "download: the download failed, HTTP 404".
std::string DescribeFailure(const RunFailure& failure);

// The log's words for a signature check's result.
const char* SignatureResultText(signing::SignatureResult result);

}  // namespace app
