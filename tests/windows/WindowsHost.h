#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// What the Windows test host shares between its VST2 and VST3 tests: the module of this build
// loaded as a host loads it, by path and through its exports only, and a few helpers.
namespace windows_host
{
    /** The Windows path (on wine's drive Z) of a file of the build tree. */
    std::wstring toWindowsPath (const char* linuxPath);

    /** The Windows path of this build's Quillmere.dll, or of the module the environment
        variable QUILLMERE_MODULE_PATH names.
    */
    std::wstring getModulePath();

    /** The Windows path of the binary inside this build's VST3 bundle, or of the one the
        environment variable QUILLMERE_VST3_BUNDLE_BINARY_PATH names.
    */
    std::wstring getVst3BundleBinaryPath();

    /** A DLL loaded with LoadLibrary and freed when this goes. */
    class LoadedModule final
    {
    public:
        explicit LoadedModule (const std::wstring& path);
        ~LoadedModule();

        LoadedModule (const LoadedModule&) = delete;
        LoadedModule& operator= (const LoadedModule&) = delete;

        bool isLoaded() const noexcept { return handle != nullptr; }

        /** The exported function of this name, or null. */
        template<typename Function>
        Function getFunction (const char* name) const
        {
            return handle != nullptr ? reinterpret_cast<Function> (reinterpret_cast<void*> (GetProcAddress (handle, name)))
                                     : nullptr;
        }

    private:
        HMODULE handle = nullptr;
    };

    /** A class identifier's 16 bytes. */
    using ClassId = std::array<std::uint8_t, 16>;

    /** The class identifier written in registry form, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}",
        as its bytes lie in memory on Windows (Windows' own parser reads it); all zero if the
        text is not in that form. */
    ClassId classIdFromString (const char* registryForm);

    /** The 16 bytes at the given address. */
    ClassId classIdFromBytes (const void* bytes);

    /** Plain text of a null-terminated UTF-16 string (the strings compared here are ASCII). */
    template<typename CharType>
    std::string toAscii (const CharType* text)
    {
        std::string result;

        for (; text != nullptr && *text != 0; ++text)
            result += *text < 0x80 ? (char) *text : '?';

        return result;
    }

    /** Reproducible noise in [-1, 1], one vector per channel. */
    std::vector<std::vector<float>> makeNoise (int numChannels, int numSamples, std::uint32_t seed);

    /** True when both sets of channels hold the same bits. */
    bool haveSameBits (const std::vector<std::vector<float>>& a, const std::vector<std::vector<float>>& b);

    /** Runs the calling thread's message loop for the given time. */
    void pumpMessages (DWORD milliseconds);

    /** A visible top-level window without a frame, at the top of the screen and the given
        distance from its left edge, such as a host opens a plug-in's editor in. */
    class HostWindow final
    {
    public:
        HostWindow (int left, int width, int height);
        ~HostWindow();

        HostWindow (const HostWindow&) = delete;
        HostWindow& operator= (const HostWindow&) = delete;

        HWND getHandle() const noexcept { return handle; }

    private:
        HWND handle = nullptr;
    };

    /** What a window shows on screen, 8-bit RGBA, top row first. */
    struct Screenshot
    {
        int width = 0, height = 0;
        std::vector<std::uint8_t> rgba;

        /** The number of different colours in the picture. */
        size_t countColours() const;

        /** Writes the picture as a PNG file; false if it cannot. */
        bool savePng (const std::wstring& path) const;
    };

    /** Copies a window's pixels from the screen. */
    Screenshot captureWindow (HWND window);

    /** For an editor just opened in the window: checks that it made a window inside it, lets it
        draw for two seconds (calling idle between turns of the message loop), checks that the
        window shows the editor's size and more than a few colours, and keeps the picture in the
        build tree under the given name, printing its path. */
    void checkEditorAndKeepScreenshot (HWND window, int width, int height, void (*idle) (void*), void* idleContext, const char* fileName);
}
