#include <norvel/perception/cluster_motion_tracker.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using norvel::perception::ClusterMotionTracker;

// Frames until `move` (the centroid in the map at frame k) makes the track travel, or -1 within
// `frames`; the robot stands at the map origin, so the base frame is the map frame.
template <typename Move>
int framesUntilTravelling(ClusterMotionTracker& tracker, int frames, float radius, Move move) {
  for (int k = 1; k <= frames; ++k) {
    tracker.beginFrame(static_cast<std::uint64_t>(k));
    const Eigen::Vector2f at = move(k);
    if (tracker.observe(at, radius)) {
      return k;
    }
  }
  return -1;
}

TEST(ClusterMotionTracker, AWalkerTravelsOnceItHasCoveredItsOwnWidth) {
  // 0.2 m wide person (radius 0.1) at 1 m/s (0.1 m per frame): it has covered its width after
  // two steps, but a decision needs four observations.
  ClusterMotionTracker tracker(ClusterMotionTracker::Settings{});
  const int first = framesUntilTravelling(tracker, 20, 0.1F,
                                          [](int k) { return Eigen::Vector2f(0.1F * k, 1.0F); });
  EXPECT_EQ(first, 4);

  // A wider body must cover more: radius 0.28 needs 0.56 m, six steps after the first frame.
  ClusterMotionTracker wide(ClusterMotionTracker::Settings{});
  EXPECT_EQ(
      framesUntilTravelling(wide, 20, 0.28F, [](int k) { return Eigen::Vector2f(1.0F, 0.1F * k); }),
      7);

  // Once a walker stops, it is let go within two frames, not when the walk leaves the window.
  ClusterMotionTracker stopping(ClusterMotionTracker::Settings{});
  bool travelling_while_walking = false;
  int last_travelling = 0;
  for (int k = 1; k <= 30; ++k) {
    stopping.beginFrame(static_cast<std::uint64_t>(k));
    const Eigen::Vector2f at(0.1F * std::min(k, 20), 1.0F);
    const bool travels = stopping.observe(at, 0.1F);
    travelling_while_walking = travelling_while_walking || (travels && k <= 20);
    last_travelling = travels ? k : last_travelling;
  }
  EXPECT_TRUE(travelling_while_walking);
  EXPECT_LE(last_travelling, 22);

  // Slower than min_step (0.04 m per frame by default) never travels, however far it gets.
  ClusterMotionTracker slow(ClusterMotionTracker::Settings{});
  EXPECT_EQ(framesUntilTravelling(slow, 60, 0.05F,
                                  [](int k) { return Eigen::Vector2f(0.03F * k, 0.0F); }),
            -1);
}

TEST(ClusterMotionTracker, AWalkerWhoTurnsBackOrSetsOffTravelsAgainWithinAFewFrames) {
  // A two-second window lets a slow or long body (a cart at 0.9 m/s needs more than a second to
  // cover its own length) travel; a turn inside that window must not hold the walker back.
  ClusterMotionTracker::Settings settings;
  settings.window = 20;
  ClusterMotionTracker turning(settings);
  int still_frames_after_turn = 0;
  for (int k = 1; k <= 40; ++k) {
    turning.beginFrame(static_cast<std::uint64_t>(k));
    const float x = k <= 15 ? 0.1F * k : 1.5F - 0.1F * (k - 15);
    const bool travels = turning.observe(Eigen::Vector2f(x, 1.0F), 0.1F);
    // Frame 16 is the first step back: the last two steps cancel, so it may pause there.
    still_frames_after_turn += (k > 16 && !travels) ? 1 : 0;
  }
  EXPECT_EQ(still_frames_after_turn, 0);

  // A person-sized walker (radius 0.25) needs five steps since the turn before they alone cover
  // its width, but it is the same body, moving at the same pace throughout: it keeps travelling.
  // Once it stops, it is let go within two frames; grown into a cluster twice its size (joined
  // to the desk it walks past) it is let go at once.
  ClusterMotionTracker person_turning(settings);
  int frames_held_back = 0;
  int last_travelling = 0;
  for (int k = 1; k <= 40; ++k) {
    person_turning.beginFrame(static_cast<std::uint64_t>(k));
    const float x = k <= 15 ? 0.1F * k : 1.5F - 0.1F * (std::min(k, 25) - 15);
    const bool travels = person_turning.observe(Eigen::Vector2f(x, 1.0F), 0.25F);
    frames_held_back += (k >= 8 && k <= 25 && !travels) ? 1 : 0;
    last_travelling = travels ? k : last_travelling;
  }
  EXPECT_EQ(frames_held_back, 0);
  EXPECT_LE(last_travelling, 27);
  ClusterMotionTracker joining(settings);
  bool travelled = false;
  bool travelled_joined = false;
  for (int k = 1; k <= 12; ++k) {
    joining.beginFrame(static_cast<std::uint64_t>(k));
    const bool travels = joining.observe(Eigen::Vector2f(0.1F * k, 1.0F), k <= 10 ? 0.25F : 0.6F);
    travelled = travelled || (k <= 10 && travels);
    travelled_joined = travelled_joined || (k > 10 && travels);
  }
  EXPECT_TRUE(travelled);
  EXPECT_FALSE(travelled_joined);

  // Standing for a second, then walking off: the wait does not count against the walk.
  ClusterMotionTracker setting_off(settings);
  const int first = framesUntilTravelling(setting_off, 30, 0.1F, [](int k) {
    return Eigen::Vector2f(0.1F * std::max(0, k - 10), 0.0F);
  });
  EXPECT_EQ(first, 12) << "two steps cover its width, as for a walker seen from the start";

  // A cart 0.9 m long (radius 0.5) at 0.9 m/s covers its own length within the window.
  ClusterMotionTracker cart(settings);
  EXPECT_EQ(
      framesUntilTravelling(cart, 30, 0.5F, [](int k) { return Eigen::Vector2f(0.09F * k, 3.0F); }),
      13);
}

// Observation of a body of `radius` along x at `centre`, with both ends seen as its own.
ClusterMotionTracker::Observation withSides(float centre, float radius, float smear) {
  ClusterMotionTracker::Observation seen;
  seen.at = {Eigen::Vector2f(centre, 3.0F), Eigen::Vector2f(centre - radius, 3.0F),
             Eigen::Vector2f(centre + radius, 3.0F)};
  seen.radius = radius;
  seen.smear = smear;
  return seen;
}

TEST(ClusterMotionTracker, TheBodysOwnEndsTravelAfterHalfItsWidthTogetherAndBeyondTheSmear) {
  ClusterMotionTracker::Settings settings;
  settings.window = 20;
  // The same cart with its ends in view: they have gone half its width after six steps, and a
  // still object's end stays at its edge.
  ClusterMotionTracker cart(settings);
  int first = -1;
  for (int k = 1; k <= 30 && first < 0; ++k) {
    cart.beginFrame(static_cast<std::uint64_t>(k));
    first = cart.observe(withSides(0.09F * k, 0.5F, 0.0F)) ? k : -1;
  }
  EXPECT_EQ(first, 7);

  // A still post (radius 0.2) 4 m away while the robot starts turning at 45 degrees per second:
  // each scan is smeared more, up to 0.3 m, so its ends seem to slide 0.3 m in five frames and
  // then stay. The smear is no travel.
  ClusterMotionTracker post(settings);
  bool travelled = false;
  for (int k = 1; k <= 30; ++k) {
    post.beginFrame(static_cast<std::uint64_t>(k));
    const float smear = 0.06F * static_cast<float>(std::min(k - 1, 5));
    travelled = post.observe(withSides(smear, 0.2F, smear)) || travelled;
  }
  EXPECT_FALSE(travelled);

  // A walker sets off sideways from the end of a desk and stays joined to it for a while: the
  // cluster's walker end goes 0.08 m per frame, its desk end stays. The walker's end soon outruns
  // the cluster's radius, but a body's two ends go together; the walker's own points tell for the
  // walker.
  ClusterMotionTracker joined(settings);
  travelled = false;
  for (int k = 1; k <= 15; ++k) {
    joined.beginFrame(static_cast<std::uint64_t>(k));
    ClusterMotionTracker::Observation seen;
    const Eigen::Vector2f desk_end(0.0F, 3.0F);
    const Eigen::Vector2f walker_end(0.8F, 3.0F + 0.08F * static_cast<float>(k));
    seen.at = {0.5F * (desk_end + walker_end), desk_end, walker_end};
    seen.radius = 0.5F * (walker_end - desk_end).norm();
    travelled = joined.observe(seen) || travelled;
  }
  EXPECT_FALSE(travelled);

  // A person-sized cluster's ends are its legs. At 1 m/s the leading foot's side moves every
  // frame, while the trailing foot stays planted for half a second and then swings 0.6 m past.
  // That is no desk holding the cluster back: the walk is seen as soon as the leading side has
  // gone the radius.
  ClusterMotionTracker striding(settings);
  int first_stride = -1;
  for (int k = 1; k <= 20 && first_stride < 0; ++k) {
    striding.beginFrame(static_cast<std::uint64_t>(k));
    ClusterMotionTracker::Observation seen;
    const float leading = 0.1F * static_cast<float>(k);
    const float trailing = 0.1F * static_cast<float>(k - (k - 1) % 6) - 0.4F;
    seen.at = {Eigen::Vector2f(0.5F * (leading + trailing), 3.0F), Eigen::Vector2f(trailing, 3.0F),
               Eigen::Vector2f(leading, 3.0F)};
    seen.radius = 0.25F;
    first_stride = striding.observe(seen) ? k : -1;
  }
  EXPECT_EQ(first_stride, 4);
}

TEST(ClusterMotionTracker, ABodyThatBecomesCutOnOneSideIsFollowedByItsOtherSide) {
  // A cart 0.9 m long at 0.09 m per frame along x; from frame 13 on a pillar hides its front
  // more and more: the visible part ends at the pillar's edge, and its centroid falls behind.
  ClusterMotionTracker::Settings settings;
  settings.window = 20;
  ClusterMotionTracker tracker(settings);
  const float pillar_edge = 0.09F * 12 + 0.45F;
  int travelling_while_cut = 0;
  for (int k = 1; k <= 16; ++k) {
    tracker.beginFrame(static_cast<std::uint64_t>(k));
    const float x = 0.09F * k;
    ClusterMotionTracker::Observation seen;
    const float back = x - 0.45F;
    const float front = k <= 12 ? x + 0.45F : pillar_edge;
    seen.at = {Eigen::Vector2f(0.5F * (back + front), 3.0F), Eigen::Vector2f(back, 3.0F),
               Eigen::Vector2f(front, 3.0F)};
    seen.cut_right = k > 12;
    seen.radius = 0.5F * (front - back);
    const bool travels = tracker.observe(seen);
    travelling_while_cut += (k > 12 && travels) ? 1 : 0;
  }
  EXPECT_EQ(travelling_while_cut, 4);

  // The same cart passing a row of posts nearer the sensor: its back is cut for one frame in
  // every four, and in frame 13 its front as well. Each side is the cart's own in all but single
  // frames, so the back still measures the cart's travel across them, and the cart travels on in
  // frame 13, when neither its centre nor its front is its own.
  ClusterMotionTracker flickering(settings);
  bool travels_in_13 = false;
  for (int k = 1; k <= 13; ++k) {
    flickering.beginFrame(static_cast<std::uint64_t>(k));
    const float x = 0.09F * k;
    ClusterMotionTracker::Observation seen;
    seen.cut_left = k % 4 == 2;
    seen.cut_right = k == 13;
    // Where a side is cut, the visible part ends at the post's edge, anywhere along the cart.
    const float back = seen.cut_left ? x - 0.1F : x - 0.45F;
    const float front = seen.cut_right ? x + 0.2F : x + 0.45F;
    seen.at = {Eigen::Vector2f(0.5F * (back + front), 3.0F), Eigen::Vector2f(back, 3.0F),
               Eigen::Vector2f(front, 3.0F)};
    seen.radius = 0.5F * (front - back);
    travels_in_13 = flickering.observe(seen);
  }
  EXPECT_TRUE(travels_in_13);

  // Cut on both sides (a sliver between two occluders), nothing of it is the body's own: it never
  // travels, however its parts move.
  ClusterMotionTracker sliver(settings);
  bool travelled = false;
  for (int k = 1; k <= 20; ++k) {
    sliver.beginFrame(static_cast<std::uint64_t>(k));
    ClusterMotionTracker::Observation seen;
    const Eigen::Vector2f at(0.1F * k, 1.0F);
    seen.at = {at, at, at};
    seen.cut_left = true;
    seen.cut_right = true;
    seen.radius = 0.1F;
    travelled = sliver.observe(seen) || travelled;
  }
  EXPECT_FALSE(travelled);
}

TEST(ClusterMotionTracker, APersonWalkingInFromBeyondTheRegionIsFollowedByTheSideFacingTheSensor) {
  // The region's edge lies at x = 4.95 m. A person (radius 0.2) walks in towards the robot at
  // 0.1 m per frame; while the edge cuts off their back (the first two frames), the visible part's
  // centroid and its side boundaries are the cut's, not the body's. Its near boundary is the
  // body's own: the track is followed from the first frame and travels after three steps, when
  // the near side has covered the radius and the smear. Followed only from the first whole
  // frame, it would have to wait for six.
  auto walking_in = [](int k, float radius, float smear) {
    const float near = 4.75F - 0.1F * static_cast<float>(k);
    const float back = std::min(near + 2.0F * radius, 4.95F);
    ClusterMotionTracker::Observation seen;
    const Eigen::Vector2f centre(0.5F * (near + back), 1.0F);
    seen.at = {centre, centre + Eigen::Vector2f(0.0F, radius),
               centre - Eigen::Vector2f(0.0F, radius)};
    seen.near_side = Eigen::Vector2f(near, 1.0F);
    seen.has_near_side = true;
    seen.cut_far = back >= 4.95F;
    seen.radius = std::max(radius, 0.5F * (back - near));
    seen.smear = smear;
    return seen;
  };
  ClusterMotionTracker person(ClusterMotionTracker::Settings{});
  int first = -1;
  int cut_frames = 0;
  for (int k = 1; k <= 20 && first < 0; ++k) {
    person.beginFrame(static_cast<std::uint64_t>(k));
    const ClusterMotionTracker::Observation seen = walking_in(k, 0.2F, 0.05F);
    first = person.observe(seen) ? k : -1;
    cut_frames += seen.cut_far ? 1 : 0;
  }
  EXPECT_EQ(first, 4);
  EXPECT_EQ(cut_frames, 2);

  // A cart-sized cluster cut by the edge is not followed by its near side: its nearest part may be
  // a walker in front of furniture.
  ClusterMotionTracker cart(ClusterMotionTracker::Settings{});
  bool travelled = false;
  for (int k = 1; k <= 3; ++k) {
    cart.beginFrame(static_cast<std::uint64_t>(k));
    travelled = cart.observe(walking_in(k, 0.45F, 0.0F)) || travelled;
  }
  EXPECT_FALSE(travelled);

  // A wall along the region's side edge, seen in slivers where range noise puts its returns inside
  // the region: while the robot drives along it at 1 m/s, the sliver nearest the sensor slides
  // along with the robot. Lying along the edge, it has no near side of its own, and what the cut
  // leaves of it never travels.
  ClusterMotionTracker sliver(ClusterMotionTracker::Settings{});
  travelled = false;
  for (int k = 1; k <= 20; ++k) {
    sliver.beginFrame(static_cast<std::uint64_t>(k));
    ClusterMotionTracker::Observation seen;
    const Eigen::Vector2f at(0.1F * static_cast<float>(k), 4.9F);
    seen.at = {at, at - Eigen::Vector2f(0.1F, 0.0F), at + Eigen::Vector2f(0.1F, 0.0F)};
    seen.cut_far = true;
    seen.radius = 0.1F;
    travelled = sliver.observe(seen) || travelled;
  }
  EXPECT_FALSE(travelled);
}

TEST(ClusterMotionTracker, APersonOnACameraBorderIsFollowedByTheNearSideAlongTheLineOfSight) {
  // Someone walks straight away from the robot along the border between two cameras at 1 m/s:
  // each camera sees a cut half, whose centroid moves with the cut. Its outer side is a leg,
  // planted for four frames and then swung ahead; its near side goes steadily along the line of
  // sight. That is enough after three steps.
  auto half_body = [](int k, float near_x, const Eigen::Vector2f& sight) {
    ClusterMotionTracker::Observation seen;
    const float leg = 0.4F * static_cast<float>((k - 1) / 4);
    seen.at = {Eigen::Vector2f(near_x + 0.15F, 0.1F), Eigen::Vector2f(near_x + 0.15F, 0.0F),
               Eigen::Vector2f(2.0F + leg, 0.2F)};
    seen.cut_left = true;
    seen.near_side = Eigen::Vector2f(near_x, 0.1F);
    seen.has_near_side = true;
    seen.sight = sight;
    seen.radius = 0.2F;
    return seen;
  };
  ClusterMotionTracker walker(ClusterMotionTracker::Settings{});
  int first = -1;
  for (int k = 1; k <= 20 && first < 0; ++k) {
    walker.beginFrame(static_cast<std::uint64_t>(k));
    first = walker.observe(
                half_body(k, 2.0F + 0.1F * static_cast<float>(k), Eigen::Vector2f(1.0F, 0.0F)))
                ? k
                : -1;
  }
  EXPECT_EQ(first, 4);

  // The end of a still bench beside the robot's path (its end at x = 3), cut by the camera's edge
  // straight to the left of a robot driving along it at 0.5 m/s: the part in view shrinks from
  // 0.55 m to nothing, and its near side, at the cut, slides along the bench across the line of
  // sight. It never travels.
  ClusterMotionTracker bench(ClusterMotionTracker::Settings{});
  bool travelled = false;
  for (int k = 1; k <= 11; ++k) {
    bench.beginFrame(static_cast<std::uint64_t>(k));
    ClusterMotionTracker::Observation seen;
    const float cut = 2.4F + 0.05F * static_cast<float>(k);
    seen.at = {Eigen::Vector2f(0.5F * (cut + 3.0F), 1.5F), Eigen::Vector2f(cut, 1.5F),
               Eigen::Vector2f(3.0F, 1.5F)};
    seen.cut_left = true;
    seen.near_side = Eigen::Vector2f(cut, 1.4F);
    seen.has_near_side = true;
    seen.sight = Eigen::Vector2f(0.0F, 1.0F);
    seen.radius = 0.5F * (3.0F - cut);
    travelled = bench.observe(seen) || travelled;
  }
  EXPECT_FALSE(travelled);
}

TEST(ClusterMotionTracker, AStillObjectSeenFromChangingSidesNeverTravels) {
  // The visible part (radius 0.25) of an object changes from frame to frame: its centroid wanders
  // inside the object, or drifts steadily from one end to the other while the robot drives past.
  std::mt19937 random(7);
  std::uniform_real_distribution<float> inside(-0.15F, 0.15F);
  ClusterMotionTracker wandering(ClusterMotionTracker::Settings{});
  EXPECT_EQ(framesUntilTravelling(
                wandering, 200, 0.25F,
                [&](int) { return Eigen::Vector2f(2.0F + inside(random), 1.0F + inside(random)); }),
            -1);
  ClusterMotionTracker drifting(ClusterMotionTracker::Settings{});
  EXPECT_EQ(framesUntilTravelling(drifting, 30, 0.3F,
                                  [](int k) { return Eigen::Vector2f(2.0F + 0.06F * k, 1.0F); }),
            -1)
      << "0.54 m of drift per window stays within the 0.6 m the part itself spans";

  // A cluster coming into view grows while its centroid moves with the growing edge.
  ClusterMotionTracker growing(ClusterMotionTracker::Settings{});
  bool travelled = false;
  for (int k = 1; k <= 10; ++k) {
    growing.beginFrame(static_cast<std::uint64_t>(k));
    const float radius = 0.1F * k;
    const Eigen::Vector2f at(1.0F + radius, 2.0F);
    travelled = growing.observe(at, std::min(radius, 0.8F)) || travelled;
  }
  EXPECT_FALSE(travelled);
}

TEST(ClusterMotionTracker, AJumpyOrPacingCourseDoesNotTravel) {
  // Posts 0.3 m apart, one seen per frame in turn: a course made of jumps.
  ClusterMotionTracker posts(ClusterMotionTracker::Settings{});
  EXPECT_EQ(framesUntilTravelling(posts, 12, 0.05F,
                                  [](int k) { return Eigen::Vector2f(0.3F * k, 0.0F); }),
            -1);

  // A centre going back and forth within the body's own width covers ground but gets nowhere,
  // however many frames it keeps at it and however long the window.
  ClusterMotionTracker::Settings long_window;
  long_window.window = 20;
  ClusterMotionTracker pacing(long_window);
  EXPECT_EQ(framesUntilTravelling(pacing, 40, 0.16F,
                                  [](int k) {
                                    return Eigen::Vector2f(
                                        (k / 3) % 2 == 0 ? 0.1F * (k % 3) : 0.3F - 0.1F * (k % 3),
                                        0.0F);
                                  }),
            -1);
}

TEST(ClusterMotionTracker, TracksKeepToTheirOwnBodiesAndEndWhenLost) {
  // Two walkers 1 m apart, one moving, one standing: only the moving one travels, whichever is
  // observed first in a frame.
  ClusterMotionTracker tracker(ClusterMotionTracker::Settings{});
  bool standing_travelled = false;
  bool walker_travelled = false;
  for (int k = 1; k <= 12; ++k) {
    tracker.beginFrame(static_cast<std::uint64_t>(k));
    const Eigen::Vector2f standing(0.0F, 1.0F);
    const Eigen::Vector2f walker(0.1F * k, 0.0F);
    if (k % 2 == 0) {
      standing_travelled = tracker.observe(standing, 0.15F) || standing_travelled;
      walker_travelled = tracker.observe(walker, 0.15F);
    } else {
      walker_travelled = tracker.observe(walker, 0.15F);
      standing_travelled = tracker.observe(standing, 0.15F) || standing_travelled;
    }
  }
  EXPECT_TRUE(walker_travelled);
  EXPECT_FALSE(standing_travelled);
  EXPECT_EQ(tracker.trackCount(), 2U);

  // Unseen for three frames, both tracks are gone; the walker starts over.
  tracker.beginFrame(16);
  EXPECT_EQ(tracker.trackCount(), 0U);
  EXPECT_FALSE(tracker.observe(Eigen::Vector2f(1.6F, 0.0F), 0.15F));

  // Clearing forgets everything; clusters larger than max_radius are never followed.
  tracker.clear();
  EXPECT_EQ(tracker.trackCount(), 0U);
  ClusterMotionTracker::Settings settings;
  settings.max_radius = 0.5F;
  ClusterMotionTracker small_only(settings);
  EXPECT_EQ(framesUntilTravelling(small_only, 20, 0.6F,
                                  [](int k) { return Eigen::Vector2f(0.3F * k, 0.0F); }),
            -1);
  EXPECT_EQ(small_only.trackCount(), 0U);
}

}  // namespace
