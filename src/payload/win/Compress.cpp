#include "payload/win/Compress.h"

#include "payload/FilesInUse.h"
#include "toolkit/win/Application.h"
#include "toolkit/win/MessageBox.h"
#include "toolkit/win/RestartManager.h"

TCompressForm* CompressForm = nullptr;

TCompressForm::TCompressForm(TComponent* AOwner) : TForm(AOwner)
{
    SetCaption("進捗状況");
    SetBorderStyle(TBorderStyle::bsDialog);
    SetBorderIcons(0);
    SetFormStyle(TFormStyle::fsStayOnTop);
    SetPosition(TPosition::poMainFormCenter);
    TFont font;
    font.Name = "ＭＳ Ｐゴシック";
    font.Height = 12;
    SetFont(font);
    SetClientSize(199, 135);

    Label1 = new TLabel(this, this);
    Label1->SetBounds(10, 20, 180, 13);
    Label1->SetWordWrap(true);
    Label1->SetCaption("Label1");

    FileBar = new TProgressBar(this, this);
    FileBar->SetBounds(10, 38, 180, 17);
    FileBar->SetMax(100);
    FileBar->SetStep(1);
    FileBar->SetVisible(false);

    Label2 = new TLabel(this, this);
    Label2->SetBounds(10, 66, 0, 0);
    Label2->SetCaption("セットアップ状況");

    AllBar = new TProgressBar(this, this);
    AllBar->SetBounds(10, 94, 180, 17);
    AllBar->SetSmooth(true);
    AllBar->SetStep(1);
}

int TCompressForm::ExtractArchive(std::string ArchivePath, std::string DestFolder)
{
    return FExtractor.ExtractArchive(std::move(ArchivePath), std::move(DestFolder), *this);
}

void TCompressForm::Starting(uint64_t ArchiveSize)
{
    AllBar->SetMax(static_cast<int64_t>(ArchiveSize));
    AllBar->SetPosition(0);
    Show();
    Update();
}

void TCompressForm::Writing(const std::string& Path)
{
    Label1->SetCaption(Path);
    // A long file takes a while: the path is on screen while it is decoded.
    Update();
}

void TCompressForm::Consumed(uint64_t ConsumedBytes, uint64_t)
{
    AllBar->SetPosition(static_cast<int64_t>(ConsumedBytes));
    Update();
}

void TCompressForm::Finished()
{
    Hide();
}

void TCompressForm::ShowError(const std::string& Message)
{
    ShowMessage(Message);
}

bool TCompressForm::RetryFilesInUse(const std::vector<std::string>& Files)
{
    const std::string text = FilesInUseMessage(Files, ProgramsHolding(Files));
    return Application->MessageBox(text, Application->Title(), MB_RETRYCANCEL) == IDRETRY;
}
