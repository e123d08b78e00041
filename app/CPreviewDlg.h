#pragma once

#include "conversion/PreviewRenderer.h"
#include "res/Resource.h"

#include <QByteArray>
#include <QDialog>
#include <QPointer>
#include <QString>

class PreviewCanvas;
class PreviewLoader;
class QLabel;

// The preview window beside the main window: the selected drawing as it would be printed, with
// its name, page size and scale in a line below. It never blocks the main window: the drawing
// program converts and the page is drawn while both windows go on taking input, and a newer
// file replaces the one on its way. Esc and Space close it, + and - zoom, F fits, and the arrow
// keys move through the list the file was chosen in.
class CPreviewDlg : public QDialog
{
    Q_OBJECT

public:
    enum { IDD = IDD_PREVIEW };

    explicit CPreviewDlg(QWidget *pParent = nullptr);

    // Shows the file baPath (its bytes) named strName, in the format strExt, unless it is the
    // file shown already and not bReload.
    void ShowFile(const QByteArray &baPath, const QString &strName, const QString &strExt,
                  bool bReload);
    // Says that no file is selected.
    void ShowNoFile();
    // The list whose selection the window follows: the arrow keys pressed here move through it.
    void SetList(QWidget *pList) { m_pList = pList; }
    // While held, the drawing program is busy with a run: the window keeps what it shows and
    // the file asked for waits.
    void SetHeld(bool bHeld);

    PreviewRenderer *m_pRenderer = nullptr;
    PreviewLoader *m_pLoader = nullptr;
    PreviewCanvas *m_pCanvas = nullptr;
    QLabel *m_stStatus = nullptr;

protected:
    void keyPressEvent(QKeyEvent *pEvent) override;
    void hideEvent(QHideEvent *pEvent) override;

private:
    void OnLoaded(int nSerial, const PreviewRenderer::PageInfo &info);
    void OnFailed(int nSerial, const QString &strMessage);
    void UpdateStatus();

    int m_nSerial = 0;
    QByteArray m_baPath;
    QString m_strName;
    QString m_strPage; // page size and scale, once known
    bool m_bLoading = false;
    bool m_bHeld = false;
    QPointer<QWidget> m_pList;
};
