#include "res/Strings.h"

#include "res/Resource.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace {

struct StringEntry
{
    int nId;
    const char *pszText; // UTF-8
};

// Sorted by id for the binary search below; the names hide the numbers, so the build checks it.
constexpr StringEntry kStringTable[] = {
    {IDS_ABOUTBOX, "バージョン情報(&A)..."},
    {IDS_CAPTION, "Quellith Norvale"},
    {IDS_VERSION, "Version 1.10"},
    {IDS_NOTICE, "Norvale — 図面一括変換ツール  © 2026 Norvale 開発チーム"},
    {IDS_NO_SESSION_BUS,
     "OLE の初期化に失敗しました。OLE ﾗｲﾌﾞﾗﾘが正しいﾊﾞｰｼﾞｮﾝのものか確認してください。"},
    {IDS_CREATE_FOLDER_FAILED, "フォルダが作成できませんでした。"},
    {IDS_AUTO_MODE_STATUS, "【自動変換】 更新日時からﾌｫﾙﾀﾞ単位でﾌｧｲﾙを変換します。"},
    {IDS_MANUAL_MODE_STATUS, "【手動変換】 選択したﾌｧｲﾙを変換します。"},
    {IDS_SERVER_UNAVAILABLE, "オートメーション サーバー Tarsk5 が起動できません。"},
    {IDS_AUTO_CONVERT_QUESTION, "フォルダの %d 個のファイルを自動変換しますか？"},
    {IDS_FILE_COUNT, "ﾌｧｲﾙ数 : %d "},
    {IDS_SELECTED_COUNT, "%d 個のﾌｧｲﾙを選択 "},
    {IDS_RUN_REPORT_MENU, "前回の変換結果(&R)..."},
    {IDS_RUN_REPORT_TITLE, "前回の変換結果"},
    {IDS_RUN_REPORT_COUNTS,
     "変換 %1 個 / 更新不要 %2 個 / ｽｷｯﾌﾟ %3 個 / 失敗 %4 個 / 未実行 %5 個"},
    {IDS_OUTCOME_FAILED, "失敗"},
    {IDS_OUTCOME_NOT_ATTEMPTED, "未実行"},
    {IDS_OUTCOME_SKIPPED, "ｽｷｯﾌﾟ"},
    {IDS_OUTCOME_CONVERTED, "変換"},
    {IDS_OUTCOME_UP_TO_DATE, "更新不要"},
    {IDS_REASON_NO_TARGET_NAME, "変換先のﾌｧｲﾙ名が作れません"},
    {IDS_REASON_DECLINED, "上書きしませんでした"},
    {IDS_REASON_VANISHED, "ﾌｧｲﾙが見つかりません"},
    {IDS_RUN_REPORT_EMPTY, "変換の記録はありません。"},
    {IDS_RUN_REPORT_OUTCOME, "結果"},
    {IDS_RUN_REPORT_SOURCE, "ﾌｧｲﾙ名"},
    {IDS_RUN_REPORT_TARGET, "変換先"},
    {IDS_RUN_REPORT_REASON, "理由"},
    {IDS_RUN_NOTICE_TITLE, "図面の変換が終わりました"},
    {IDS_RUN_NOTICE_TEXT, "%1 個の図面を変換しました。失敗 %2 個。"},
    {IDS_CLOSE, "閉じる"},
    {IDS_REASON_SAME_TARGET, "%1 と同じ変換先になるため変換しません"},
    {IDS_RUN_SUMMARY_SKIPPED, "変換しなかったﾌｧｲﾙがあります。"},
    {IDS_RUN_SUMMARY_REPORT, "変換結果を表示(&R)..."},
    {IDS_OPEN_FAILED, "ファイルを開けませんでした。\n%1\n\n%2"},
    {IDS_OPEN_MISSING, "ファイルが見つかりません。"},
    {IDS_OPEN_NO_PROGRAM, "この種類のファイルを開くプログラムが登録されていません: %1 (%2)"},
    {IDS_OPEN_NOT_STARTED, "ファイルを開くプログラムを起動できませんでした。"},
    {IDS_PREVIEW_TITLE, "プレビュー"},
    {IDS_PREVIEW_MENU, "プレビュー(&V)"},
    {IDS_PREVIEW_PAPER, "用紙 %1 × %2 mm"},
    {IDS_PREVIEW_SCALE, "縮尺 %1"},
    {IDS_PREVIEW_LOADING, "表示の準備をしています..."},
    {IDS_PREVIEW_HELD, "変換が終わるまでお待ちください"},
    {IDS_PREVIEW_UNSUPPORTED, "%1 形式のファイルはプレビューで表示できません。"},
    {IDS_PREVIEW_NO_SELECTION, "ファイルが選択されていません。"},
    {IDS_PREVIEW_UNREADABLE, "%1 を表示できません。\n%2"},
    {ID_SAME_FOLDER, "同じﾌｫﾙﾀﾞ"},
    {ID_CONVERT, "変換(F5)"},
    {ID_AUTO_MODE, "自動変換ﾓｰﾄﾞ(F7)"},
    {ID_MANUAL_MODE, "手動変換ﾓｰﾄﾞ(F8)"},
    {ID_LAUNCH_PROGRAM, "Tarsk5を起動"},
    {ID_CREATE_FOLDER, "ﾌｫﾙﾀﾞ作成"},
    {ID_AUTHOR_NAME, "作成者名"},
    {ID_HELP, "ﾍﾙﾌﾟ(F1)"},
};

constexpr bool IsSortedById()
{
    for (std::size_t i = 1; i < std::size(kStringTable); ++i) {
        if (kStringTable[i - 1].nId >= kStringTable[i].nId)
            return false;
    }
    return true;
}
static_assert(IsSortedById(), "the string table must stay sorted by id");

const StringEntry *findEntry(int nId)
{
    const auto it = std::lower_bound(std::begin(kStringTable), std::end(kStringTable), nId,
                                     [](const StringEntry &e, int id) { return e.nId < id; });
    return (it != std::end(kStringTable) && it->nId == nId) ? it : nullptr;
}

} // namespace

QString LoadString(int nId)
{
    const StringEntry *entry = findEntry(nId);
    return entry ? QString::fromUtf8(entry->pszText) : QString();
}

bool HasString(int nId)
{
    return findEntry(nId) != nullptr;
}
