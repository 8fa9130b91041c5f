#include "WindowsHost.h"

#include <objbase.h>

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <set>

namespace windows_host
{
    // The build passes Linux paths; wine shows the Linux root as drive Z.
    std::wstring toWindowsPath (const char* linuxPath)
    {
        std::wstring path = L"Z:";

        for (const char* c = linuxPath; *c != 0; ++c)
            path += *c == '/' ? L'\\' : (wchar_t) (unsigned char) *c;

        return path;
    }

    // A Windows path in an environment variable replaces the build's file: the installer's
    // tests point the host at the installed plug-ins that way.
    static std::wstring fromEnvironmentOr (const wchar_t* variable, const char* linuxPath)
    {
        if (const auto* given = _wgetenv (variable); given != nullptr && *given != 0)
            return given;

        return toWindowsPath (linuxPath);
    }

    std::wstring getModulePath() { return fromEnvironmentOr (L"QUILLMERE_MODULE_PATH", QUILLMERE_MODULE_FILE); }

    std::wstring getVst3BundleBinaryPath() { return fromEnvironmentOr (L"QUILLMERE_VST3_BUNDLE_BINARY_PATH", QUILLMERE_VST3_BUNDLE_BINARY); }

    LoadedModule::LoadedModule (const std::wstring& path)
        : handle (LoadLibraryW (path.c_str()))
    {
    }

    LoadedModule::~LoadedModule()
    {
        if (handle != nullptr)
            FreeLibrary (handle);
    }

    ClassId classIdFromString (const char* registryForm)
    {
        // The form is ASCII, which widens character by character.
        const std::string text (registryForm);
        const std::wstring wideText (text.begin(), text.end());

        GUID guid {};
        ClassId bytes {};

        if (CLSIDFromString (wideText.c_str(), &guid) == NOERROR)
            std::memcpy (bytes.data(), &guid, bytes.size());

        return bytes;
    }

    ClassId classIdFromBytes (const void* bytes)
    {
        ClassId result;
        std::memcpy (result.data(), bytes, result.size());
        return result;
    }

    std::vector<std::vector<float>> makeNoise (int numChannels, int numSamples, std::uint32_t seed)
    {
        std::mt19937 random (seed);
        std::uniform_real_distribution<float> sample (-1.0f, 1.0f);
        std::vector<std::vector<float>> channels ((size_t) numChannels, std::vector<float> ((size_t) numSamples));

        for (auto& channel : channels)
            for (auto& s : channel)
                s = sample (random);

        return channels;
    }

    bool haveSameBits (const std::vector<std::vector<float>>& a, const std::vector<std::vector<float>>& b)
    {
        if (a.size() != b.size())
            return false;

        for (size_t i = 0; i < a.size(); ++i)
            if (a[i].size() != b[i].size() || std::memcmp (a[i].data(), b[i].data(), a[i].size() * sizeof (float)) != 0)
                return false;

        return true;
    }

    void pumpMessages (DWORD milliseconds)
    {
        const auto end = GetTickCount() + milliseconds;

        while ((LONG) (end - GetTickCount()) > 0)
        {
            MSG message;

            while (PeekMessageW (&message, nullptr, 0, 0, PM_REMOVE))
            {
                TranslateMessage (&message);
                DispatchMessageW (&message);
            }

            Sleep (10);
        }
    }
}

namespace windows_host
{
    HostWindow::HostWindow (int left, int width, int height)
    {
        static const auto windowClass = []
        {
            WNDCLASSEXW description {};
            description.cbSize = sizeof (description);
            description.lpfnWndProc = DefWindowProcW;
            description.hInstance = GetModuleHandleW (nullptr);
            description.hCursor = LoadCursorW (nullptr, (LPCWSTR) IDC_ARROW);
            description.lpszClassName = L"QuillmereTestHostWindow";
            return RegisterClassExW (&description);
        }();

        handle = CreateWindowExW (0, (LPCWSTR) (ULONG_PTR) windowClass, L"Quillmere", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                                  left, 0, width, height, nullptr, nullptr, GetModuleHandleW (nullptr), nullptr);
    }

    HostWindow::~HostWindow()
    {
        if (handle != nullptr)
            DestroyWindow (handle);
    }

    size_t Screenshot::countColours() const
    {
        std::set<std::uint32_t> colours;

        for (size_t i = 0; i + 3 < rgba.size(); i += 4)
            colours.insert ((std::uint32_t) rgba[i] << 16 | (std::uint32_t) rgba[i + 1] << 8 | rgba[i + 2]);

        return colours.size();
    }

    bool Screenshot::savePng (const std::wstring& path) const
    {
        auto* file = _wfopen (path.c_str(), L"wb");

        if (file == nullptr)
            return false;

        png_image image {};
        image.version = PNG_IMAGE_VERSION;
        image.width = (png_uint_32) width;
        image.height = (png_uint_32) height;
        image.format = PNG_FORMAT_RGBA;

        const auto written = png_image_write_to_stdio (&image, file, 0, rgba.data(), 0, nullptr) != 0;
        return std::fclose (file) == 0 && written;
    }

    Screenshot captureWindow (HWND window)
    {
        RECT bounds {};
        GetWindowRect (window, &bounds);

        Screenshot result;
        result.width = bounds.right - bounds.left;
        result.height = bounds.bottom - bounds.top;

        BITMAPINFO format {};
        format.bmiHeader.biSize = sizeof (format.bmiHeader);
        format.bmiHeader.biWidth = result.width;
        format.bmiHeader.biHeight = -result.height; // top row first
        format.bmiHeader.biPlanes = 1;
        format.bmiHeader.biBitCount = 32;
        format.bmiHeader.biCompression = BI_RGB;

        auto* screen = GetDC (nullptr);
        auto* memory = CreateCompatibleDC (screen);
        void* pixels = nullptr;
        auto* bitmap = CreateDIBSection (screen, &format, DIB_RGB_COLORS, &pixels, nullptr, 0);
        auto* previous = SelectObject (memory, bitmap);

        // From the screen, so that the plug-in's child windows are in the picture.
        if (BitBlt (memory, 0, 0, result.width, result.height, screen, bounds.left, bounds.top, SRCCOPY | CAPTUREBLT))
        {
            GdiFlush();
            const auto* bgra = static_cast<const std::uint8_t*> (pixels);
            result.rgba.resize ((size_t) result.width * (size_t) result.height * 4);

            for (size_t i = 0; i < result.rgba.size(); i += 4)
            {
                result.rgba[i] = bgra[i + 2];
                result.rgba[i + 1] = bgra[i + 1];
                result.rgba[i + 2] = bgra[i];
                result.rgba[i + 3] = 0xff;
            }
        }

        SelectObject (memory, previous);
        DeleteObject (bitmap);
        DeleteDC (memory);
        ReleaseDC (nullptr, screen);
        return result;
    }

    void checkEditorAndKeepScreenshot (HWND window, int width, int height, void (*idle) (void*), void* idleContext, const char* fileName)
    {
        EXPECT_NE (GetWindow (window, GW_CHILD), nullptr) << "the editor made no window inside the host's";

        for (int i = 0; i < 40; ++i)
        {
            pumpMessages (50);

            if (idle != nullptr)
                idle (idleContext);
        }

        const auto screenshot = captureWindow (window);
        EXPECT_EQ (screenshot.width, width);
        EXPECT_EQ (screenshot.height, height);
        EXPECT_GT (screenshot.countColours(), 64u) << "the window shows next to nothing of the editor";

        const auto path = std::string (QUILLMERE_SCREENSHOT_FOLDER) + "/" + fileName;
        EXPECT_TRUE (screenshot.savePng (toWindowsPath (path.c_str()))) << path;
        std::cout << "Editor screenshot: " << path << std::endl;
    }
}
