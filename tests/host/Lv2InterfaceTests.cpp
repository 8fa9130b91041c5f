#include "HostHelpers.h"

#include "../support/ExpectedIdentity.h"

#include <gtest/gtest.h>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace host_helpers;

// The LV2 bundle as a host sees it through LV2 itself, read and instantiated with lilv (the
// library LV2 hosts use), below JUCE's hosting classes: its description, and the plug-in run
// with ports connected as the host chooses.

namespace
{
    /** The URID map a host hands its plug-ins: one number per URI, the same for every call. */
    class UridMap final
    {
    public:
        UridMap() { feature.handle = this; }

        LV2_URID map (const char* uri)
        {
            const std::lock_guard<std::mutex> lock (mapLock);
            return uris.emplace (uri, (LV2_URID) uris.size() + 1).first->second;
        }

        LV2_URID_Map feature { nullptr, [] (LV2_URID_Map_Handle handle, const char* uri)
                               { return static_cast<UridMap*> (handle)->map (uri); } };

    private:
        std::mutex mapLock; // the plug-in may map from any of its threads
        std::map<std::string, LV2_URID> uris;
    };

    /** One node of lilv's, freed with it. */
    using Node = std::unique_ptr<LilvNode, decltype (&lilv_node_free)>;

    /** The bundle of this build tree, loaded into a lilv world of its own. */
    class Lv2Bundle final
    {
    public:
        Lv2Bundle()
        {
            const Node bundleUri (lilv_new_file_uri (world, nullptr, (getLv2Bundle().getFullPathName() + "/").toRawUTF8()), lilv_node_free);
            lilv_world_load_bundle (world, bundleUri.get());
            plugin = lilv_plugins_get_by_uri (lilv_world_get_all_plugins (world), uri (lv2Uri.toRawUTF8()).get());
        }

        ~Lv2Bundle() { lilv_world_free (world); }

        Node uri (const char* text) const { return Node (lilv_new_uri (world, text), lilv_node_free); }

        /** The plug-in's one value of a property, as lilv reads it; null if it has none. */
        Node getPluginValue (const char* property) const
        {
            const auto values = lilv_plugin_get_value (plugin, uri (property).get());
            Node first (values != nullptr && lilv_nodes_size (values) > 0 ? lilv_node_duplicate (lilv_nodes_get_first (values)) : nullptr, lilv_node_free);
            lilv_nodes_free (values);
            return first;
        }

        const LilvPort* getPort (const char* symbol) const
        {
            const Node symbolNode (lilv_new_string (world, symbol), lilv_node_free);
            return lilv_plugin_get_port_by_symbol (plugin, symbolNode.get());
        }

        LilvWorld* const world = lilv_world_new();
        const LilvPlugin* plugin = nullptr;

        JUCE_DECLARE_NON_COPYABLE (Lv2Bundle)
    };

    constexpr auto doap = "http://usefulinc.com/ns/doap#";
}

class Lv2InterfaceTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_NE (bundle.plugin, nullptr) << "no plug-in under its URI in " << getLv2Bundle().getFullPathName(); }

    Lv2Bundle bundle;
};

// Hosts find the audio ports under the indices and symbols they had, and must connect them;
// a stored session that refers to a port by its index or symbol still finds it.
TEST_F (Lv2InterfaceTest, DescribesOneRequiredAudioPortEachWay)
{
    const struct
    {
        const char* symbol;
        uint32_t index;
        const char* direction;
    } audioPorts[] {
        { "audio_in_1", 0, LV2_CORE__InputPort },
        { "audio_out_1", 1, LV2_CORE__OutputPort },
    };

    const auto audioClass = bundle.uri (LV2_CORE__AudioPort);
    const auto optional = bundle.uri (LV2_CORE__connectionOptional);

    for (const auto& expected : audioPorts)
    {
        SCOPED_TRACE (expected.symbol);
        const auto* port = bundle.getPort (expected.symbol);
        ASSERT_NE (port, nullptr);
        EXPECT_EQ (lilv_port_get_index (bundle.plugin, port), expected.index);
        EXPECT_TRUE (lilv_port_is_a (bundle.plugin, port, audioClass.get()));
        EXPECT_TRUE (lilv_port_is_a (bundle.plugin, port, bundle.uri (expected.direction).get()));
        EXPECT_FALSE (lilv_port_has_property (bundle.plugin, port, optional.get()));
    }

    const auto input = bundle.uri (LV2_CORE__InputPort);
    const auto output = bundle.uri (LV2_CORE__OutputPort);
    EXPECT_EQ (lilv_plugin_get_num_ports_of_class (bundle.plugin, audioClass.get(), input.get(), nullptr), 1u);
    EXPECT_EQ (lilv_plugin_get_num_ports_of_class (bundle.plugin, audioClass.get(), output.get(), nullptr), 1u);
}

// LV2 versions have a minor and a micro number, the URI standing for the major version: the
// product's 2.0.0 is 200.0, an even (released) minor version above 0 (which marks plug-ins as
// experimental). The release names the version as the other formats do.
TEST_F (Lv2InterfaceTest, DescribesTheVersion)
{
    const auto minorVersion = bundle.getPluginValue (LV2_CORE__minorVersion);
    const auto microVersion = bundle.getPluginValue (LV2_CORE__microVersion);
    ASSERT_NE (minorVersion, nullptr);
    ASSERT_NE (microVersion, nullptr);
    EXPECT_EQ (lilv_node_as_int (minorVersion.get()), expected_identity::lv2::minorVersion);
    EXPECT_EQ (lilv_node_as_int (microVersion.get()), expected_identity::lv2::microVersion);

    const auto release = bundle.getPluginValue ((doap + std::string ("release")).c_str());
    ASSERT_NE (release, nullptr);
    const Node revision (lilv_world_get (bundle.world, release.get(), bundle.uri ((doap + std::string ("revision")).c_str()).get(), nullptr), lilv_node_free);
    ASSERT_NE (revision, nullptr);
    EXPECT_STREQ (lilv_node_as_string (revision.get()), expected_identity::versionText);
}

//==============================================================================
namespace
{
    /** An instance of the plug-in made by lilv with the features it requires, its atom ports
        connected to empty sequences and its audio ports left for the test to connect.
    */
    class Lv2Instance final
    {
    public:
        static constexpr int maxBlockSize = 64;

        explicit Lv2Instance (const Lv2Bundle& bundle)
        {
            const LV2_Options_Option blockLength { LV2_OPTIONS_INSTANCE, 0, map.map (LV2_BUF_SIZE__maxBlockLength), sizeof (maxBlockSize), map.map (LV2_ATOM__Int), &maxBlockSize };
            options[0] = blockLength;

            instance = lilv_plugin_instantiate (bundle.plugin, 44100.0, features);

            if (instance == nullptr)
                return;

            inputEvents.atom = { (uint32_t) sizeof (LV2_Atom_Sequence_Body), map.map (LV2_ATOM__Sequence) };
            lilv_instance_connect_port (instance, lilv_port_get_index (bundle.plugin, bundle.getPort ("in")), &inputEvents);
            lilv_instance_connect_port (instance, lilv_port_get_index (bundle.plugin, bundle.getPort ("out")), outputEvents.data());

            audioInputIndex = lilv_port_get_index (bundle.plugin, bundle.getPort ("audio_in_1"));
            audioOutputIndex = lilv_port_get_index (bundle.plugin, bundle.getPort ("audio_out_1"));
            lilv_instance_activate (instance);
        }

        ~Lv2Instance()
        {
            if (instance != nullptr)
            {
                lilv_instance_deactivate (instance);
                lilv_instance_free (instance);
            }
        }

        /** Connects the audio ports, each to its buffer or, with null, to nothing. */
        void connectAudio (float* input, float* output)
        {
            lilv_instance_connect_port (instance, audioInputIndex, input);
            lilv_instance_connect_port (instance, audioOutputIndex, output);
        }

        void run (int numSamples)
        {
            // The output sequence's size tells the plug-in how much room it has.
            auto* out = reinterpret_cast<LV2_Atom_Sequence*> (outputEvents.data());
            out->atom = { (uint32_t) (outputEvents.size() * sizeof (uint64_t) - sizeof (LV2_Atom)), map.map (LV2_ATOM__Chunk) };
            lilv_instance_run (instance, (uint32_t) numSamples);
        }

        LilvInstance* instance = nullptr;

    private:
        UridMap map;
        LV2_Options_Option options[2] {};
        LV2_Feature mapFeature { LV2_URID__map, &map.feature };
        LV2_Feature optionsFeature { LV2_OPTIONS__options, options };
        LV2_Feature boundedBlockLengthFeature { LV2_BUF_SIZE__boundedBlockLength, nullptr };
        const LV2_Feature* features[4] { &mapFeature, &optionsFeature, &boundedBlockLengthFeature, nullptr };

        LV2_Atom_Sequence inputEvents {};
        std::vector<uint64_t> outputEvents = std::vector<uint64_t> (16384 / sizeof (uint64_t)); // 64-bit aligned, as atoms are
        uint32_t audioInputIndex = 0, audioOutputIndex = 0;

        JUCE_DECLARE_NON_COPYABLE (Lv2Instance)
    };
}

// The audio ports are required, but a host may still leave one unconnected, or disconnect it
// after a first block: the plug-in then reads silence for a missing input, writes nothing for a
// missing output, and never crashes.
TEST_F (Lv2InterfaceTest, RunsWithAnyAudioPortLeftUnconnected)
{
    const struct
    {
        const char* name;
        bool inputConnected, outputConnected;
    } connections[] {
        { "both connected", true, true },
        { "input unconnected", false, true },
        { "output unconnected", true, false },
        { "neither connected", false, false },
    };

    constexpr int blockSize = Lv2Instance::maxBlockSize;
    constexpr float staleOutput = 0.5f; // what an output holds before the plug-in runs

    for (const auto& connection : connections)
    {
        SCOPED_TRACE (connection.name);
        AssertionWatch assertions;

        {
            Lv2Instance plugin (bundle);
            ASSERT_NE (plugin.instance, nullptr);

            juce::Random random (0x4c5632);
            std::vector<float> input ((size_t) blockSize), output ((size_t) blockSize);

            // The first block has both ports connected, the others as the case says.
            for (int block = 0; block < 8; ++block)
            {
                const auto inputConnected = block == 0 || connection.inputConnected;
                const auto outputConnected = block == 0 || connection.outputConnected;

                for (auto& sample : input)
                    sample = random.nextFloat() * 2.0f - 1.0f;

                const auto inputBefore = input;
                std::fill (output.begin(), output.end(), staleOutput);

                plugin.connectAudio (inputConnected ? input.data() : nullptr, outputConnected ? output.data() : nullptr);
                plugin.run (blockSize);

                const auto expectedOutput = ! outputConnected ? std::vector<float> ((size_t) blockSize, staleOutput)
                                            : inputConnected  ? inputBefore
                                                              : std::vector<float> ((size_t) blockSize, 0.0f);

                ASSERT_EQ (input, inputBefore) << "block " << block;
                ASSERT_EQ (output, expectedOutput) << "block " << block;
            }
        }

        EXPECT_TRUE (assertions.getAssertions().isEmpty()) << assertions.getAssertions().joinIntoString ("\n");
    }
}
