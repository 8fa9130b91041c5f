#include "HostHelpers.h"

#include <gtest/gtest.h>

#include <lilv/lilv.h>

#include <memory>
#include <string>

using namespace host_helpers;

// The LV2 bundle as a host sees it through LV2 itself, read with lilv (the library LV2 hosts
// use), below JUCE's hosting classes: its description.

namespace
{
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

        const LilvPort* getPort (const char* symbol) const
        {
            const Node symbolNode (lilv_new_string (world, symbol), lilv_node_free);
            return lilv_plugin_get_port_by_symbol (plugin, symbolNode.get());
        }

        LilvWorld* const world = lilv_world_new();
        const LilvPlugin* plugin = nullptr;

        JUCE_DECLARE_NON_COPYABLE (Lv2Bundle)
    };
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
