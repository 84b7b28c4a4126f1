#include "download/TransferEnd.h"

#include "download/TypeCorrection.h"
#include "download/DownloadHost.h"
#include "download/DownloadListModel.h"
#include "download/DownloadWindowState.h"
#include "download/ListOperations.h"
#include "ports/Sound.h"

namespace dh {

TransferResult TransferResult::failedRequest(const TransferRequest& request, FailReason fallback)
{
    const QString why = transferFailureText(request);
    if (why.isEmpty())
        return failed(failReasonText(fallback), failCodeOf(fallback));
    const FailCode code = failCodeOf(request);
    return failed(why, code == FailCode::None ? failCodeOf(fallback) : code, request.httpStatus());
}

void applyTransferResult(DownloadListModel& list, int pos, const TransferResult& r)
{
    if (pos < 0 || pos >= list.size())
        return;
    if (list.item(pos).retries != 0) {
        DownloadItem it = list.item(pos);
        it.retries = 0;
        list.setItem(pos, it);
    }
    // A row that ended any other way than failing needs no kept body.
    if (r.outcome != RowOutcome::Failed && r.outcome != RowOutcome::Cancelled)
        list.discardPartial(pos);
    if (r.outcome == RowOutcome::WebPage && !r.pagePath.isEmpty()) {
        markPageRow(list, pos, r.pagePath, r.pageName);
        return;
    }
    if (r.hasCells)
        list.setProgress(pos, r.size, r.received, r.percent);
    switch (r.outcome) {
    case RowOutcome::Done:
    case RowOutcome::WebPage:
        list.setState(pos, DownloadState::Done);
        break;
    case RowOutcome::SkippedExisting:
        list.setNote(pos, RowNote::SkippedExisting);
        list.setState(pos, DownloadState::Done);
        break;
    case RowOutcome::SkippedTooLarge:
        list.setNote(pos, RowNote::SkippedTooLarge);
        list.setState(pos, DownloadState::Done);
        break;
    case RowOutcome::Cancelled:
        list.setNote(pos, RowNote::Cancelled);
        list.setFailed(pos, QString(), FailCode::Cancelled);
        break;
    case RowOutcome::Failed:
        if (r.note != RowNote::None)
            list.setNote(pos, r.note);
        list.setFailed(pos, r.reason, r.code, r.httpStatus);
        break;
    case RowOutcome::Waiting:
    case RowOutcome::Downloading:
        list.setState(pos, r.outcome == RowOutcome::Waiting ? DownloadState::Waiting : DownloadState::Downloading);
        break;
    }
}

int endRowTransfer(DownloadListModel& list, DownloadWindowState& state, DownloadHost& host, const RowRef& ref,
                   const TransferResult& result, const RetryHook& retry)
{
    int pos = ref.resolve(list);
    // A file that could not be made in its folder may mean the folder went
    // away during the run: the next row makes its folder again.
    if (result.outcome == RowOutcome::Failed && result.code == FailCode::Local)
        state.madeFolders.clear();
    if (pos >= 0 && result.outcome == RowOutcome::Failed && retry && retry(pos, result)) {
        state.markTransferEvent();
        return pos;
    }
    if (pos >= 0) {
        applyTransferResult(list, pos, result);
        if (result.checkType)
            correctItemFileType(list, pos, host.options().sameNamePolicy, result.knownType);
    }
    state.markTransferEvent();
    if (pos < 0 || !result.announce)
        return pos;
    const DownloadItem& row = list.item(pos);
    host.fileFinished(row.name);
    if (isWebPageType(row.fileType))
        host.cue(CueWebPage);
    if (row.state == DownloadState::Failed)
        host.cue(CueTransferFailed);
    host.transferEnded(pos);
    return pos;
}

} // namespace dh
