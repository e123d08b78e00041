#include "res/Strings.h"

#include <algorithm>
#include <iterator>

namespace {

struct StringEntry
{
    int nId;
    const char *pszText; // UTF-8
};

// Kept sorted by id for the binary search below.
constexpr StringEntry kStringTable[] = {
    {101, "バージョン情報(&A)..."},
    {102, "Quellith Norvale"},
    {103, "Version 1.10"},
    {104, "Norvale — 図面一括変換ツール  © 2026 Norvale 開発チーム"},
    {300, "OLE の初期化に失敗しました。OLE ﾗｲﾌﾞﾗﾘが正しいﾊﾞｰｼﾞｮﾝのものか確認してください。"},
    {302, "フォルダが作成できませんでした。"},
    {303, "【自動変換】 更新日時からﾌｫﾙﾀﾞ単位でﾌｧｲﾙを変換します。"},
    {304, "【手動変換】 選択したﾌｧｲﾙを変換します。"},
    {305, "オートメーション サーバー Tarsk5 が起動できません。"},
    {306, "フォルダの %d 個のファイルを自動変換しますか？"},
    {307, "ﾌｧｲﾙ数 : %d "},
    {308, "%d 個のﾌｧｲﾙを選択 "},
    {330, "前回の変換結果(&R)..."},
    {331, "前回の変換結果"},
    {332, "変換 %1 個 / 更新不要 %2 個 / ｽｷｯﾌﾟ %3 個 / 失敗 %4 個 / 未実行 %5 個"},
    {333, "失敗"},
    {334, "未実行"},
    {335, "ｽｷｯﾌﾟ"},
    {336, "変換"},
    {337, "更新不要"},
    {338, "変換先のﾌｧｲﾙ名が作れません"},
    {339, "上書きしませんでした"},
    {340, "ﾌｧｲﾙが見つかりません"},
    {341, "変換の記録はありません。"},
    {342, "結果"},
    {343, "ﾌｧｲﾙ名"},
    {344, "変換先"},
    {345, "理由"},
    {346, "図面の変換が終わりました"},
    {347, "%1 個の図面を変換しました。失敗 %2 個。"},
    {348, "閉じる"},
    {1018, "同じﾌｫﾙﾀﾞ"},
    {1019, "変換(F5)"},
    {1020, "自動変換ﾓｰﾄﾞ(F7)"},
    {1021, "手動変換ﾓｰﾄﾞ(F8)"},
    {1023, "Tarsk5を起動"},
    {1024, "ﾌｫﾙﾀﾞ作成"},
    {32774, "作成者名"},
    {57670, "ﾍﾙﾌﾟ(F1)"},
};

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
