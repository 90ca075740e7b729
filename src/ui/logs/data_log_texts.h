// The texts of the data log viewer, its settings dialog and the monthly delete dialog, each in
// Chinese and English.
#pragma once

#include "ui/common/window_texts.h"

namespace tessel::txt {

// ---- data log viewer ---------------------------------------------------------------------------
inline constexpr UiText DataLogTitle{"数据日志", "Data Log"};
inline constexpr UiText SearchType{"查询方式", "Search Type"};
inline constexpr UiText SearchByMonth{"按月", "Month"};
inline constexpr UiText SearchByDate{"按日", "Date"};
inline constexpr UiText SpecifyAddress{"指定设备地址:", "Specify Equipment Address:"};
inline constexpr UiText SearchButton{"查询", "Search"};
inline constexpr UiText RefreshButton{"刷新", "Refresh"};
inline constexpr UiText LogSettingButton{"日志设定", "Log Setting"};
inline constexpr UiText ExportButton{"汇出", "Export"};
inline constexpr UiText ClearMonthButton{"清除月记录", "Clear Month Record"};
// The busy state of a query or sort over a large month, and the count of rows found.
inline constexpr UiText QueryRunning{"正在查询...", "Searching..."};
inline constexpr UiText SortRunning{"正在排序...", "Sorting..."};
inline constexpr UiText StopQuery{"停止", "Stop"};
inline constexpr UiText RowsFound{"共 %1 条记录", "%1 records"};
inline constexpr UiText DataLogGridName{"数据日志记录", "Data log records"};
inline constexpr UiText AddressName{"设备地址", "Equipment address"};

// ---- data log settings
// ---------------------------------------------------------------------------
inline constexpr UiText DataLogSetTitle{"数据日志设定", "Data Log Setting"};
inline constexpr UiText SaveToDataLog{"记录数据到日志中", "Save data to data log"};
inline constexpr UiText RecordIntervalLabel{"记录间隔:", "Record Interval:"};
inline constexpr UiText SecondsUnit{"秒", "sec"};

// ---- monthly delete
// ------------------------------------------------------------------------------
inline constexpr UiText DelDataRecTitle{"删除月记录", "Delete Data Log"};
inline constexpr UiText DeleteMonthButton{"删除该月记录", "Delete Record Of This Month"};
inline constexpr UiText DeleteMonthHint{"删除所选项对应的月记录", "删除所选项对应的月记录"};
inline constexpr UiText DeleteMonthHelp1{
    "从下表中选择要删除的月数据记录,然后点击删除按钮!",
    "In left list, select a item that you want to delete, and then click deleting button,"};
inline constexpr UiText DeleteMonthHelp2{"列表项解析: 如DataLog2008_12表示的是2008年12月的月记录!",
                                         "data section of every item express time of this log."};
inline constexpr UiText DeleteMonthConfirm{"你确定要删除该月数据日志? ",
                                           "Are you sure delete data log of this month ?"};
// The caption of that question, asked with the warning icon and No pre-selected.
inline constexpr UiText DeleteMonthCaption{"请确认", "Confirm"};
inline constexpr UiText DeleteMonthFailed{"无法删除 %1", "Unable to delete %1"};
inline constexpr UiText MonthListName{"月记录", "Month records"};

}  // namespace tessel::txt
