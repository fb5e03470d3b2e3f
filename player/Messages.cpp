#include "Messages.h"

const char kAlphaQuestion[] =
    "ｱﾙﾌｧｰｺﾝﾄﾛｰﾙを使用した場合に処理速度の問題で音が途切れたり操作が出来なくなったりする場合が有ります。ｱﾙﾌｧｰｺﾝﾄﾛｰﾙを\n"
    "　使用する場合は「はい」\n"
    "　使用しない場合は「いいえ」\n"
    "を選択して下さい。";
const char kDeviceLostMessage[] = "サウンドデバイスが応答しないため、再生を停止しました。";
const char kNoDeviceMessage[] = "サウンドデバイスを開けないため、再生できません。";
const char kSavedTimeTip[] = "無音の短縮で節約した時間 ";
const char kElapsedTip[] = "経過 ";
const char kLengthTip[] = "長さ ";
const char kFileLeftTip[] = "残り ";
const char kChapterLeftTip[] = "章の残り ";
const char kTimesSpeedWord[] = "倍速";
const char kLeftBeforeSkippingTip[] = "残りは無音を短縮する前の長さです（上限）";
const char kSleepChapterEndText[] = "章末";
const char kSleepFileEndText[] = "末尾";
const char kChapterSeparator[] = " - ";
const char kSettingsWord[] = "設定";
const char kPositionsWord[] = "再生位置";

std::string NotSavingThisRunMessage(const std::string& strReason, bool bSettings, bool bPositions)
{
    const std::string strWhat = bSettings && bPositions ? "設定と再生位置" : bSettings ? kSettingsWord : kPositionsWord;
    return strReason + "\nこの起動中は" + strWhat + "を保存しません。";
}

std::string DamagedSettingsMessage(const std::string& strCopy)
{
    return "設定ファイルが壊れていたため、初期設定で起動しました。\n元のファイルは " + strCopy + " として残します。";
}

std::string DamagedPositionsMessage(const std::string& strCopy)
{
    return "再生位置のファイルが壊れていたため、再生位置なしで起動しました。\n元のファイルは " + strCopy
        + " として残します。";
}

std::string SaveFailedMessage(const char* strWhat, const std::string& strError)
{
    return std::string(strWhat) + "を保存できませんでした。\n" + strError + "\n次に変更したときにもう一度保存します。";
}

std::string HandOverFailedMessage(const std::string& strError)
{
    return "ほかの起動から渡されるファイルを受け取れません。\n" + strError;
}

std::string HelpMissingMessage(const std::string& strPath)
{
    return "ヘルプが見つかりません。\nhelp.html は次の場所に置いて下さい:\n" + strPath;
}

std::string HelpNotOpenedMessage(const std::string& strPath)
{
    return "ヘルプを開けませんでした。\nhelp.html は次の場所にあります:\n" + strPath;
}
