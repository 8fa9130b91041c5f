// Instances and editors: creating and destroying them, and the heap they hold, against an
// empty JUCE plug-in and its editor.

#include "../tests/support/HeapAndLockCounter.h"
#include "../tests/support/LinkedConsole.h"
#include "BenchmarkNames.h"
#include "EmptyAudioProcessor.h"

namespace
{
    std::unique_ptr<juce::AudioProcessor> makeProcessor (bool quillmere)
    {
        if (quillmere)
            return std::make_unique<QuillmereAudioProcessor>();

        return std::make_unique<EmptyAudioProcessor>();
    }

    /** Closes an editor as a host's wrapper does: the processor hears of it first. */
    struct EditorCloser
    {
        void operator() (juce::AudioProcessorEditor* editor) const
        {
            editor->processor.editorBeingDeleted (editor);
            delete editor;
        }
    };

    using OpenEditor = std::unique_ptr<juce::AudioProcessorEditor, EditorCloser>;

    /** A system with no MIDI ports at all, so that nothing opens a port behind the figures. */
    struct NoPorts
    {
        NoPorts() { ports.install(); }
        VirtualMidiPortBackend ports;
    };

    void createAndDestroy (benchmark::State& state, bool quillmere)
    {
        NoPorts system;

        for (auto _ : state)
        {
            auto processor = makeProcessor (quillmere);
            benchmark::DoNotOptimize (processor.get());
        }
    }

    void createRestoreAndDestroy (benchmark::State& state, bool quillmere)
    {
        LinkedConsole setup;
        juce::MemoryBlock project;
        setup.link ("Tarn16", 3, "Ch3").getStateInformation (project);
        long long n = 0;

        for (auto _ : state)
        {
            auto processor = makeProcessor (quillmere);
            processor->setStateInformation (project.getData(), (int) project.getSize());
            processor.reset();

            if ((++n & 1023) == 0)
            {
                state.PauseTiming();
                setup.ports.clearSentBlocks();
                state.ResumeTiming();
            }
        }
    }

    /** Whatever the processor's createEditor makes, as a host opens and closes the window. */
    void openAndClose (benchmark::State& state, bool quillmere, bool paintOnce)
    {
        NoPorts system;
        auto processor = makeProcessor (quillmere);

        if (auto* q = dynamic_cast<QuillmereAudioProcessor*> (processor.get()))
        {
            q->setDevice ("Tarn16");
            q->channel = 3;
        }

        for (auto _ : state)
        {
            OpenEditor editor (processor->createEditorIfNeeded());

            if (paintOnce)
                benchmark::DoNotOptimize (editor->createComponentSnapshot (editor->getLocalBounds()));

            editor.reset();
        }
    }

    //==============================================================================
    struct HeapUse
    {
        double heldKiB = 0.0, peakKiB = 0.0;
    };

    /** The heap one more object takes while it is made (peak) and keeps (held, averaged over
        eight), once a first one has warmed up the caches that all of them share.
    */
    template<typename Make>
    HeapUse measureHeap (Make&& make)
    {
        constexpr int count = 8;
        make();

        std::vector<decltype (make())> kept;
        const auto before = HeapAndLockCounter::getLiveBytes();
        HeapAndLockCounter::resetPeak();
        kept.push_back (make());
        const auto peak = HeapAndLockCounter::getPeakBytes() - before;

        while (kept.size() < (size_t) count)
            kept.push_back (make());

        const auto held = (HeapAndLockCounter::getLiveBytes() - before) / count;
        return { (double) held / 1024.0, (double) peak / 1024.0 };
    }

    /** An instance as a restored project leaves it without its ports: model, channel, name. */
    std::unique_ptr<juce::AudioProcessor> makeSetUpProcessor (bool quillmere)
    {
        auto processor = makeProcessor (quillmere);

        if (auto* q = dynamic_cast<QuillmereAudioProcessor*> (processor.get()))
        {
            q->setDevice ("Tarn16");
            q->channel = 3;
            q->setChannelName ("Kick");
        }

        return processor;
    }

    void heapPerInstance (benchmark::State& state)
    {
        for (auto _ : state)
        {
            NoPorts system;
            const auto product = measureHeap ([]
                                              { return makeSetUpProcessor (true); });
            const auto baseline = measureHeap ([]
                                               { return makeSetUpProcessor (false); });

            benchmark_names::setRow (state, "heap held per instance in KiB", product.heldKiB, baseline.heldKiB);
            benchmark_names::setRow (state, "peak heap while creating one in KiB", product.peakKiB, baseline.peakKiB);
        }
    }

    void heapPerEditor (benchmark::State& state)
    {
        for (auto _ : state)
        {
            NoPorts system;

            // The processors exist before the measurement, which counts the editors alone, and
            // outlive the editors that it keeps.
            const auto measureEditors = [] (bool quillmere)
            {
                std::vector<std::unique_ptr<juce::AudioProcessor>> owners;

                while (owners.size() < 9)
                    owners.push_back (makeSetUpProcessor (quillmere));

                size_t next = 0;
                return measureHeap ([&]
                                    { return OpenEditor (owners[next++]->createEditorIfNeeded()); });
            };

            const auto product = measureEditors (true);
            const auto baseline = measureEditors (false);

            benchmark_names::setRow (state, "heap held per open editor in KiB", product.heldKiB, baseline.heldKiB);
            benchmark_names::setRow (state, "peak heap while opening one in KiB", product.peakKiB, baseline.peakKiB);
        }
    }

    [[maybe_unused]] const bool registered = []
    {
        using benchmark_names::timed;

        for (bool baseline : { false, true })
            benchmark::RegisterBenchmark (timed ("5 lifecycle", "create and destroy an instance", baseline).c_str(), createAndDestroy, ! baseline);

        for (bool baseline : { false, true })
            benchmark::RegisterBenchmark (timed ("5 lifecycle", "create, restore a linked project, destroy", baseline).c_str(), createRestoreAndDestroy, ! baseline);

        for (bool paintOnce : { false, true })
            for (bool baseline : { false, true })
                benchmark::RegisterBenchmark (timed ("5 lifecycle", paintOnce ? "open, paint once, close the editor" : "open and close the editor", baseline).c_str(), openAndClose, ! baseline, paintOnce);

        benchmark::RegisterBenchmark (benchmark_names::rows ("5 memory", "instance").c_str(), heapPerInstance)->Iterations (1)->Repetitions (1);
        benchmark::RegisterBenchmark (benchmark_names::rows ("5 memory", "editor").c_str(), heapPerEditor)->Iterations (1)->Repetitions (1);

        return true;
    }();
}
