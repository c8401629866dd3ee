// Texts of dialog template 102 for systems that draw the dialog themselves
// (the Windows build takes them from updater.rc).
#pragma once

namespace res {
inline constexpr int kUpdateDialogTemplate = 102;
inline constexpr char kUpdateDialogCaption[] = "更新下载";
inline constexpr char kStatusInitialText[] = "链接服务器，请等待...";
}  // namespace res
