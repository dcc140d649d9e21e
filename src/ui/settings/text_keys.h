#pragma once
// The texts the window looks up by key beyond its controls' captions: messages, questions, notes.
// Every language file holds each key (a test checks the three shipped ones against this table).

#include <QString>

#include <array>
#include <cstddef>

#include "settings/language_files.h"

namespace kestrine::ui {

enum class TText : std::size_t {
  strNoDriveSelected,
  strOptionsSaved,
  strPressNextToRecover,
  strRecoveryCompleted,
  strTrayRunning,
  strFoundFiles,
  strPassTheFilter,
  strPartition,
  strClipped,
  strCannotBeRead,
  strDriveCannotBeRead,
  strNoFileSystem,
  strScanFailed,
  strAddImageTitle,
  strImageFilter,
  strRecoverOntoSourceTitle,
  strRecoverOntoSource,
  strRecoveryNotStarted,
  strRecovering,
  strRecoverySummary,
  strRecoveryPartial,
  strRecoverySkipped,
  strRecoveryNote,
  strNotMounted,
  strNothingChecked,
  strWipeTitle,
  strWipeQuestion,
  strWipeFailed,
  strDeleteTitle,
  strDeleteQuestion,
  strDeleteFailed,
  strPreviewEmpty,
  strPreviewPageCut,
  strNotAnOffset,
  strOffsetHint,
  strSearchStopped,
  strNotAByteSequence,
  strNothingToFind,
  strSearching,
  strSearchingPercent,
  strNotFound,
  strStopFind,
  strBytes,
  strSelectedBytes,
  strTopOffset,
  strPixels,
  strCopy,
  strSelectAll,
  strLocale,
  strNoCleanupMasks,
  strWipeProgress,
  strWipeCancelledRow,
  strWipeCancelled,
  strWipeRunningCaption,
  strWipeCloseQuestion,
  strReasonDestinationMissing,
  strReasonDestinationUnopenable,
  strReasonFolderNotReopened,
  strReasonFolderReplaced,
  strReasonFolderNotMade,
  strReasonFolderCannotBeCreated,
  strReasonFolderCannotBeOpened,
  strReasonNoFreeFolderName,
  strReasonFileCannotBeCreated,
  strReasonNoFreeName,
  strReasonDataUnreadable,
  strReasonStoredEncrypted,
  strReasonStopped,
  strReasonReadShort,
  strReasonWriteFailed,
  strReasonNamedStreamsNotStored,
  strReasonNamedStreamsNotWritten,
  strReasonNamedStreamProblem,
  strReasonNoStreamNamed,
  strReasonRecordUnreadable,
  strReasonRecordReused,
  strReasonSizeOverDataArea,
  strReasonSizeOverClusterRoom,
  strReasonSizeOverAllocated,
  strReasonSizeOverRuns,
  Count
};

inline constexpr std::array<const char*, static_cast<std::size_t>(TText::Count)> kTextKeys = {
    "strNoDriveSelected", "strOptionsSaved", "strPressNextToRecover", "strRecoveryCompleted", "strTrayRunning",
    "strFoundFiles", "strPassTheFilter", "strPartition", "strClipped", "strCannotBeRead", "strDriveCannotBeRead",
    "strNoFileSystem", "strScanFailed", "strAddImageTitle", "strImageFilter", "strRecoverOntoSourceTitle",
    "strRecoverOntoSource", "strRecoveryNotStarted", "strRecovering", "strRecoverySummary", "strRecoveryPartial",
    "strRecoverySkipped", "strRecoveryNote", "strNotMounted", "strNothingChecked", "strWipeTitle",
    "strWipeQuestion", "strWipeFailed", "strDeleteTitle", "strDeleteQuestion", "strDeleteFailed",
    "strPreviewEmpty", "strPreviewPageCut", "strNotAnOffset", "strOffsetHint", "strSearchStopped",
    "strNotAByteSequence", "strNothingToFind", "strSearching", "strSearchingPercent", "strNotFound",
    "strStopFind", "strBytes", "strSelectedBytes", "strTopOffset", "strPixels", "strCopy", "strSelectAll",
    "strLocale", "strNoCleanupMasks", "strWipeProgress", "strWipeCancelledRow", "strWipeCancelled", "strWipeRunningCaption", "strWipeCloseQuestion",
    "strReasonDestinationMissing", "strReasonDestinationUnopenable", "strReasonFolderNotReopened",
    "strReasonFolderReplaced", "strReasonFolderNotMade", "strReasonFolderCannotBeCreated",
    "strReasonFolderCannotBeOpened", "strReasonNoFreeFolderName", "strReasonFileCannotBeCreated", "strReasonNoFreeName",
    "strReasonDataUnreadable", "strReasonStoredEncrypted", "strReasonStopped", "strReasonReadShort",
    "strReasonWriteFailed", "strReasonNamedStreamsNotStored", "strReasonNamedStreamsNotWritten",
    "strReasonNamedStreamProblem", "strReasonNoStreamNamed", "strReasonRecordUnreadable", "strReasonRecordReused",
    "strReasonSizeOverDataArea", "strReasonSizeOverClusterRoom", "strReasonSizeOverAllocated", "strReasonSizeOverRuns",
};
static_assert(kTextKeys.back() != nullptr, "a key of TText has no name");

inline QString TextKey(TText Key) { return QString::fromLatin1(kTextKeys[static_cast<std::size_t>(Key)]); }

// The language's text of Key; numbers go into its %1, %2... with QString::arg.
inline QString Text(const TLanguageDocument& Language, TText Key) { return Language.LookupText(TextKey(Key)); }

}  // namespace kestrine::ui
