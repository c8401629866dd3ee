#include "app/messages.h"

#include "app/vendor_config.h"

namespace app {

std::string MessageText(FailureMessage which) {
  const char* first = which == FailureMessage::kNoArgument
                          ? "非常抱歉，本程序不能单独运行。"
                          : "非常抱歉，可能因为网络原因，本次升级失败。";
  const char* second = which == FailureMessage::kNoArgument
                           ? "您可点击\"Velmora\"工具栏的\"在线升级\"按钮尝试升级。"
                           : "您可点击\"Velmora\"工具栏的\"在线升级\"按钮再次尝试升级。";
  return std::string(first) + "\n\n" + second + "\n\n" + "或去Orinta网站上下载新版本。" + "\n\n" +
         "按\"确认\"去官网下载，按\"取消\"退出本次升级。";
}

std::string DownloadPageUrl() {
  return std::string("http://") + kPageHost + "/update/download.php";
}

}  // namespace app
