// The two string tables, English and Japanese, row for row.
#include "app/strings.h"

#include <cstring>

namespace {

constexpr std::int16_t kRegionJapanese = 8;
constexpr const char* kInvalidIndex = "Invalid string index.";

// The caller's buffer must hold the row and its terminator: kRowTextSize bytes always do.
void CopyText(char* destination, const char* text) {
  std::memcpy(destination, text, std::strlen(text) + 1);
}

constexpr UIStringEntry En(const char* text) {
  return {kFontStandard, 0, text};
}
constexpr UIStringEntry Ja(const char* text) {
  return {kFontJapanese, 0, text};
}

}  // namespace

const UIStringEntry gLUIEnglish[kUIStringCount] = {
    En(""),
    En("Start"),
    En("Quit"),
    En("Yes"),
    En("No"),
    En("Agree"),
    En("Decline"),
    En("Update"),
    En("Abort"),
    En("Shutdown"),
    En("Vornatique Technology"),
    En("presents"),
    En("Vestra"),
    En("Installer"),
    En("(C) 2026 Vornatique"),
    En("Current Firmware"),
    En("Version "),
    En("Update to version "),
    En("End User"),
    En("License Agreement"),
    En("By pressing AGREE you"),
    En("agree to follow the terms"),
    En("of your camera software"),
    En("license agreement."),
    En("Do not turn off your"),
    En("camera during the"),
    En("update process!"),
    En("WARNING"),
    En("Keep power on"),
    En("until update process"),
    En("is complete."),
    En("updating FIRMWARE file..."),
    En("updating RESOURCE file..."),
    En("Firmware update"),
    En("successful!"),
    En("Turn power Off"),
    En("before next use."),
    En("Update process cancelled."),
    En("No changes have"),
    En("been made."),
    En("Not enough battery power"),
    En("to perform update."),
    En("Camera incompatible"),
    En("with firmware update."),
    En("Update files"),
    En("are corrupt."),
    En("Some update files"),
    En("are missing."),
};

// UTF-8, the coding of the Japanese face.
const UIStringEntry gLUIJapanese[kUIStringCount] = {
    Ja(""),
    Ja("開始"),
    Ja("終了"),
    Ja("はい"),
    Ja("いいえ"),
    Ja("同意する"),
    Ja("同意しない"),
    Ja("更新"),
    Ja("中止"),
    Ja("電源オフ"),
    Ja("ヴォルナティーク テクノロジー"),
    Ja("提供"),
    Ja("Vestra"),
    Ja("ｲﾝｽﾄｰﾗ"),  // half-width: the version must still fit after it at 24 pixels
    Ja("(C) 2026 Vornatique"),
    Ja("ファームウェア"),  // beside the logo at 24 pixels: no room for "現在の"
    Ja("バージョン "),
    Ja("更新後のバージョン "),
    Ja("ソフトウェア"),
    Ja("使用許諾契約"),
    Ja("「同意する」を押すと、"),
    Ja("カメラソフトウェアの"),
    Ja("使用許諾契約の条項に"),
    Ja("同意したことになります。"),
    Ja("更新中は"),
    Ja("カメラの電源を"),
    Ja("切らないでください！"),
    Ja("警告"),
    Ja("更新が終わるまで"),
    Ja("電源を切らずに"),
    Ja("お待ちください。"),
    Ja("ファームウェアを更新中…"),
    Ja("リソースを更新中…"),
    Ja("ファームウェアの更新が"),
    Ja("完了しました！"),
    Ja("電源を一度切ってから"),
    Ja("お使いください。"),
    Ja("更新を中止しました。"),
    Ja("カメラは"),
    Ja("変更されていません。"),
    Ja("電池の残量が"),
    Ja("不足しています。"),
    Ja("このカメラは"),
    Ja("この更新に対応していません。"),
    Ja("更新ファイルが"),
    Ja("壊れています。"),
    Ja("一部の更新ファイルが"),
    Ja("見つかりません。"),
};

std::int16_t GetRgnFontNum(std::int16_t region) {
  return region == kRegionJapanese ? kFontJapanese : kFontStandard;
}

const char* GetRgnString(std::int16_t region, std::int16_t row, char* destination) {
  if (row < 0 || row >= kUIStringCount) {
    if (destination != nullptr) CopyText(destination, kInvalidIndex);
    return nullptr;
  }
  const UIStringEntry* table = region == kRegionJapanese ? gLUIJapanese : gLUIEnglish;
  const char* text = table[row].text;
  if (destination != nullptr) CopyText(destination, text);
  return text;
}
