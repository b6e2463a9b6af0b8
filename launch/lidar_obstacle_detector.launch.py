"""Starts lidar_obstacle_detector with the package's parameter file.

    ros2 launch corvanta_3d_lidar_detect lidar_obstacle_detector.launch.py \
        params_file:=/path/to/my_params.yaml scan_topic:=/livox/lidar namespace:=robot1

The node configures itself and activates once the lidar-to-base transform is known, so no
lifecycle manager is needed. Parameters are read for the node name "lidar_detect_node": a
parameter file must use that name (or /**) as its top-level key.
"""

import os

from ament_index_python.packages import get_package_share_directory
from launch import LaunchDescription
from launch.actions import DeclareLaunchArgument
from launch.substitutions import LaunchConfiguration
from launch_ros.actions import Node


def generate_launch_description():
    package_share = get_package_share_directory('corvanta_3d_lidar_detect')
    default_params = os.path.join(package_share, 'config', 'default_params',
                                  'lidar_detect_node.yaml')

    arguments = [
        DeclareLaunchArgument('params_file', default_value=default_params,
                              description='Parameter file for lidar_detect_node'),
        DeclareLaunchArgument('namespace', default_value='',
                              description='Namespace of the node and its topics'),
        DeclareLaunchArgument('scan_topic', default_value='/cloud_registered_body',
                              description='Topic the scans arrive on (remaps the lidar_topic '
                                          'parameter\'s default)'),
        DeclareLaunchArgument('use_sim_time', default_value='false',
                              description='Use the /clock topic (bag playback)'),
        DeclareLaunchArgument('log_level', default_value='info',
                              description='rclcpp log level of the node'),
    ]

    node = Node(
        package='corvanta_3d_lidar_detect',
        executable='lidar_obstacle_detector',
        name='lidar_detect_node',
        namespace=LaunchConfiguration('namespace'),
        output='screen',
        emulate_tty=True,
        parameters=[LaunchConfiguration('params_file'),
                    {'use_sim_time': LaunchConfiguration('use_sim_time')}],
        # TF stays global unless the robot's TF is namespaced too; the usual pair of remappings
        # makes it follow the namespace.
        remappings=[('/tf', 'tf'),
                    ('/tf_static', 'tf_static'),
                    ('/cloud_registered_body', LaunchConfiguration('scan_topic'))],
        arguments=['--ros-args', '--log-level', LaunchConfiguration('log_level')],
    )

    return LaunchDescription(arguments + [node])
