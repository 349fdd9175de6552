/* A stand-in for one of the product's programs, carried by development builds of the installer
   in place of the real file. It says which program it stands for and ends. The build sets
   STANDIN_KIND: 1 the uninstaller, 2 the updater, 3 the application. */
#include <windows.h>

#if STANDIN_KIND == 1
#define STANDIN_NAME "UnInst.exe"
#define STANDIN_ROLE "アンインストーラ"
#elif STANDIN_KIND == 2
#define STANDIN_NAME "update.exe"
#define STANDIN_ROLE "アップデートプログラム"
#else
#define STANDIN_NAME "rezevavav.exe"
#define STANDIN_ROLE "アプリケーション本体"
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    MessageBoxA(NULL,
                STANDIN_NAME "\r\n\r\n"
                "デスクトップdoduza の" STANDIN_ROLE "の代わりに入っている開発用のプログラムです。\r\n"
                "製品版ではここに本物のファイルが入ります。",
                "doduza", MB_OK | MB_ICONINFORMATION);
    return 0;
}
