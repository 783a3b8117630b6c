#pragma once

#include "ProgressSink.h"

#include <QElapsedTimer>
#include <QWidget>

class QLabel;

namespace kelvo {

class TGauge;

// The small window that tells the user the card tree is being loaded or
// saved: a text line `Label1` and, for a save, the bar `gg1` with the
// percentage done. It is created hidden at start-up and lives for the whole
// run.
class TfrmProgress
    : public QWidget
    , public ProgressSink
{
    Q_OBJECT

public:
    static constexpr int ClientWidth = 379;
    static constexpr int ClientHeight = 68;

    explicit TfrmProgress(QWidget *parent = nullptr);

    // ProgressSink
    void ShowSaveProgress(int n) override;
    void RefreshProgress() override;
    void StepProgress() override;
    void ShowLoadProgress() override;
    void CloseProgress() override;

    // How often RefreshProgress actually repainted (figures and tests).
    int repaintCount() const { return m_repaints; }

private:
    void showCentred();

    QLabel *Label1 = nullptr;
    TGauge *gg1 = nullptr;
    QElapsedTimer m_sinceRepaint;
    int m_paintedPercent = -1;
    int m_paintedWidth = -1;
    int m_repaints = 0;
};

} // namespace kelvo
